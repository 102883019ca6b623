#include "tests/support/httpserver.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace testing_support {

namespace {

int listenOnLoopback(int &port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (::bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 || ::listen(fd, 16) != 0) {
        ::close(fd);
        return -1;
    }
    socklen_t len = sizeof addr;
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&addr), &len);
    port = ntohs(addr.sin_port);
    return fd;
}

bool sendAll(int fd, const QByteArray &data)
{
    for (qsizetype done = 0; done < data.size();) {
        const ssize_t n = ::send(fd, data.constData() + done, size_t(data.size() - done), MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

QByteArray reason(int status)
{
    switch (status) {
    case 200: return "OK";
    case 302: return "Found";
    case 404: return "Not Found";
    case 500: return "Internal Server Error";
    default: return "Status";
    }
}

} // namespace

LocalHttpServer::LocalHttpServer()
{
    fd_ = listenOnLoopback(port_);
    if (fd_ < 0) {
        port_ = 0;
        return;
    }
    thread_ = std::thread([this] { run(); });
}

LocalHttpServer::~LocalHttpServer()
{
    stop_ = true;
    if (thread_.joinable())
        thread_.join();
    for (int c : held_)
        ::close(c);
    if (fd_ >= 0)
        ::close(fd_);
}

QString LocalHttpServer::host() const { return QStringLiteral("127.0.0.1:%1").arg(port_); }

QString LocalHttpServer::url(const QString &path) const { return QStringLiteral("http://") + host() + path; }

void LocalHttpServer::route(const QByteArray &path, const Route &r)
{
    std::lock_guard<std::mutex> lock(mutex_);
    routes_[path] = r;
}

QStringList LocalHttpServer::requests() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
}

int LocalHttpServer::closedPort()
{
    int port = 0;
    const int fd = listenOnLoopback(port);
    if (fd >= 0)
        ::close(fd);
    return port;
}

void LocalHttpServer::run()
{
    while (!stop_) {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0)
            continue;
        const int c = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (c < 0)
            continue;
        QByteArray request;
        char buf[4096];
        while (!request.contains("\r\n\r\n") && request.size() < 65536) {
            pollfd in{c, POLLIN, 0};
            if (::poll(&in, 1, 2000) <= 0)
                break;
            const ssize_t n = ::recv(c, buf, sizeof buf, 0);
            if (n <= 0)
                break;
            request.append(buf, n);
        }
        const QByteArray path = request.split(' ').value(1);
        Route r = Route::reply(404, "not found");
        {
            std::lock_guard<std::mutex> lock(mutex_);
            requests_ << QString::fromLatin1(path);
            const auto it = routes_.find(path);
            if (it != routes_.end())
                r = it->second;
        }
        if (r.silent) {
            held_.push_back(c);
            continue;
        }
        QByteArray head = "HTTP/1.1 " + QByteArray::number(r.status) + ' ' + reason(r.status) + "\r\n";
        if (!r.location.isEmpty())
            head += "Location: " + r.location + "\r\n";
        head += "Content-Length: " + QByteArray::number(r.body.size()) + "\r\nConnection: close\r\n\r\n";
        const QByteArray body = r.sendOnly >= 0 ? r.body.left(r.sendOnly) : r.body;
        if (r.bytesPerSecond > 0) {
            // One byte at a time, until the body is out, the client has gone
            // or the server stops.
            bool sent = sendAll(c, head);
            for (qsizetype i = 0; sent && i < body.size() && !stop_; ++i) {
                pollfd gone{c, POLLIN, 0};
                if (::poll(&gone, 1, 1000 / r.bytesPerSecond) > 0)
                    break;   // the client closed (or sent what it should not)
                sent = sendAll(c, body.mid(i, 1));
            }
        } else {
            sendAll(c, head + body);
        }
        ::shutdown(c, SHUT_WR);
        ::close(c);
    }
}

} // namespace testing_support
