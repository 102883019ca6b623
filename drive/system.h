// Facts of the system, the shell and the browser for the rest of the
// program: the system version text, free memory, computer and user names, the
// UTC time text, the default browser and mail program, the program
// associated with a file type, opening documents through the desktop,
// starting and waiting for programs, replacing a file by a download, an XOR
// text transform and a string swap.
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>

// --- the system ----------------------------------------------------------------

// "OS: " + family + " Win version:" + " major" + "." + "minor" + " Build: " +
// " build" from the system identity of the layer; major is set to its major
// version.
QString GetOsVersionText(int &major);
bool IsVistaOrLater();
// Bytes to megabytes, rounded to two decimals (half away from zero).
double BytesToMB(double bytes);
// The available physical memory in MB (from 64-bit byte counts).
int GetFreeMemoryMB();
// The available physical memory in bytes (MemAvailable, else MemFree); 0
// when it cannot be read.
qint64 GetFreeMemoryBytes();
// The running system in the form of the system version text, for reports
// read by people, with this system's own values: "OS: " + the distribution
// (else the kernel's name) and the machine + "  Win version: " + the
// kernel's release + " Build: " + the kernel's build ("OS: Debian GNU/Linux
// 12 (bookworm) x86_64  Win version: 6.1.0-18-amd64 Build: #1 SMP Debian
// 6.1.76-1 (2024-02-01)"). Empty when unknown.
QString GetKernelVersionText();
QString GetComputerNameText();
// The login name; the default when it has fewer than 2 characters.
QString GetWindowsUserName(const QString &defaultName);
// The current UTC time as "yyyy-mm-dd hh:nn:ss UTC".
QString GetUtcTimeText();
// Replaces the clock (the current time in UTC) for tests; empty: the system's.
void SetUtcClock(std::function<QDateTime()> clock);

void SwapStrings(QString &a, QString &b);

// Each character's Windows-1252 code combined by exclusive or with the key's
// code, the first character with the key's second and the key wrapping round;
// the same call with the same key reverses it. An empty key leaves the text
// unchanged.
QString XorWithKey(const QString &text, const QString &key);
QByteArray XorWithKey(const QByteArray &text, const QByteArray &key);

// --- browser and mail ------------------------------------------------------------

// The command of the default program for http (and mailto) links: the
// settings value "SOFTWARE\Classes\http\shell\open\command" of
// HKEY_LOCAL_MACHINE when one is set, else the desktop's default handler.
QString GetDefaultBrowserCommand();
QString GetDefaultMailCommand();
bool IsIeDefaultBrowser();

// --- the shell -------------------------------------------------------------------

// The program associated with the file's type (the desktop's default
// application for its MIME type); starts nothing. Empty, with the reason in
// message, when there is none: "Cannot open NAME ." + two line breaks + "No
// Windows application associated for .EXT files.", "file not found" or "path
// not found".
QString OpenWithAssociatedProgram(const QString &path, QString &message);

// Opens a file, folder or link through the desktop (verbs "open", "explore"
// or none); an executable file is started with the parameters split into an
// argument vector, never through a shell. True when it was handed over.
bool ShellOpen(const QString &file, const QString &verb, const QString &parameters,
               const QString &directory, int showState);
// Replaces what ShellOpen and the opening of links start (tests).
using LaunchHook = std::function<bool(const QString &program, const QStringList &args, const QString &dir)>;
void SetLaunchHook(LaunchHook hook);

// --- processes -------------------------------------------------------------------

// Starts a program with an argument vector, never through a shell; the
// process id, or 0 when it could not start.
qint64 StartProgram(const QString &program, const QStringList &args, const QString &workDir = QString());
// Starts a program and waits at most timeoutMs for it, letting pending
// events be processed. Its exit code; -1 when it could not start or crashed,
// -2 when the time ran out (the program is then ended). Output (standard
// output and error) goes to *output when given.
int RunProgram(const QString &program, const QStringList &args, int timeoutMs,
               QByteArray *output = nullptr, const QString &workDir = QString());
// Whether a program started by StartProgram still runs.
bool StartedProgramRunning(qint64 pid);
// Ends a program started by StartProgram, by its id; refuses any other
// process (also a new one that got the id of an ended program).
bool EndStartedProgram(qint64 pid);

// --- the internet and downloads ----------------------------------------------------

// Whether the computer is connected: a default route (IPv4 or IPv6) on an
// interface that is up and is not the loopback. flags gets 2 (a LAN
// connection) or 0, name the interface of the route (empty when none).
bool IsInternetConnected(int &flags, QString &name);
// The interface of the first usable default route in the texts of
// /proc/net/route and /proc/net/ipv6_route; isUp tells whether an interface
// is up. Empty when there is none.
QString DefaultRouteInterface(const QByteArray &ipv4Routes, const QByteArray &ipv6Routes,
                              const std::function<bool(const QString &)> &isUp);
// Replaces the connection test (tests); empty: the routes of the system.
void SetInternetConnectedHook(std::function<bool(int &flags, QString &name)> hook);

// The largest file a download may bring (the notice and version texts).
constexpr qint64 kDownloadTextLimit = 1 << 20;

// Downloads the http or https link into the file, fresh from the server (no
// cache), through the hidden ".NAME.part" beside it, which is renamed to the
// file once complete: the file is written and complete, or removed.
// Redirects are followed only to http and https; an error status, a reply
// cut short, a reply larger than maxBytes, a stalled transfer and one that
// outlasts the deadline fail. While it runs the window takes its events (a
// caller marks itself busy so that no command starts inside it); once the
// program is closing (plat::closing()) it stops, or does not begin. A failed
// or stopped download leaves no ".part" file.
bool DownloadUrlToFile(const QString &url, const QString &file, qint64 maxBytes = kDownloadTextLimit);
// When the computer is connected: downloads the link into ".NAME.part" beside
// the target and renames it over the target once it is complete. True only
// when the target was replaced; a failed download (refused, not found, cut
// off, timed out, too large, stopped) leaves the old target as it was and no
// partial file.
bool DownloadReplaceFile(const QString &url, const QString &target, qint64 maxBytes = kDownloadTextLimit);
// The connection time-out and the longest time a download may stall, in
// seconds (15 and 30; tests shorten them; 0 restores the default).
void SetDownloadTimeouts(int connectSeconds, int stallSeconds);
// The longest a download may take in all, in milliseconds (30,000; tests
// shorten it; 0 restores the default).
void SetDownloadDeadlineMs(int ms);

// --- the system information tool ---------------------------------------------------

// Reads a value into out: the text of a REG_SZ value, or for REG_DWORD "&h"
// followed by the hexadecimal forms of the number's bytes up to its first
// zero byte, last first. False, with out empty, when there is none.
bool ReadRegistryValue(int32_t root, const QString &path, const QString &valueName, QString &out);
// Starts the system information tool named under the hive: the value "PATH"
// of "SOFTWARE\Microsoft\Shared Tools\VIDAVE", else the file VIDAVE32.EXE in
// the folder of value "VIDAVE" of "SOFTWARE\Microsoft\Shared Tools Location".
// False when it is unavailable; the caller then says so.
bool StartSysInfoTool(int32_t hive);
