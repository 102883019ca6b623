// A small HTTP server on 127.0.0.1 for the tests of downloads: it runs on a
// thread of its own (a download blocks the test's thread), answers each
// path by its route, keeps the paths asked for in their order, and answers
// 404 for a path without a route.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <atomic>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

namespace testing_support {

class LocalHttpServer {
public:
    struct Route {
        int status = 200;
        QByteArray body;
        bool silent = false;        // takes the request and never answers
        qint64 sendOnly = -1;       // >= 0: closes after this many body bytes (the length promised is the body's)
        QByteArray location;        // a redirect's Location (status 302)
        int bytesPerSecond = 0;     // > 0: the body trickles at this rate

        static Route reply(int code, const QByteArray &body = {})
        {
            Route r;
            r.status = code;
            r.body = body;
            return r;
        }
        static Route cutAfter(const QByteArray &body, qint64 bytes)
        {
            Route r = reply(200, body);
            r.sendOnly = bytes;
            return r;
        }
        static Route redirect(const QByteArray &to)
        {
            Route r = reply(302);
            r.location = to;
            return r;
        }
        static Route trickle(const QByteArray &body, int bytesPerSecond)
        {
            Route r = reply(200, body);
            r.bytesPerSecond = bytesPerSecond;
            return r;
        }
        static Route never()
        {
            Route r;
            r.silent = true;
            return r;
        }
    };

    LocalHttpServer();
    ~LocalHttpServer();
    LocalHttpServer(const LocalHttpServer &) = delete;
    LocalHttpServer &operator=(const LocalHttpServer &) = delete;

    bool ok() const { return port_ != 0; }
    int port() const { return port_; }
    // "127.0.0.1:port"
    QString host() const;
    // "http://127.0.0.1:port" + path
    QString url(const QString &path) const;

    void route(const QByteArray &path, const Route &r);
    void serve(const QByteArray &path, const QByteArray &body) { route(path, Route::reply(200, body)); }
    // The paths asked for, in order.
    QStringList requests() const;

    // A port on 127.0.0.1 where nothing listens.
    static int closedPort();

private:
    void run();
    int fd_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::thread thread_;
    mutable std::mutex mutex_;
    std::map<QByteArray, Route> routes_;
    QStringList requests_;
    std::vector<int> held_;   // connections of silent routes
};

} // namespace testing_support
