// Preloaded into a program under test (LD_PRELOAD): writes one line per name lookup and per
// Internet socket, connection and datagram to the file named by CAIRN_NETWATCH_LOG, then does
// what was asked. Lines: "lookup <name>", "socket <family>", "connect <address> <port>",
// "sendto <address> <port>".
#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

void record(const char *format, const char *a, const char *b = "")
{
    const int savedErrno = errno;
    if (const char *path = getenv("CAIRN_NETWATCH_LOG")) {
        char line[600];
        const int n = snprintf(line, sizeof line, format, a, b);
        const int fd = open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
        if (fd >= 0 && n > 0) {
            [[maybe_unused]] const ssize_t written
                = write(fd, line, size_t(n) < sizeof line ? size_t(n) : sizeof line - 1);
        }
        if (fd >= 0)
            close(fd);
    }
    errno = savedErrno;
}

void recordAddress(const char *what, const struct sockaddr *address)
{
    if (!address)
        return;
    char text[INET6_ADDRSTRLEN] = "?";
    char port[8] = "?";
    if (address->sa_family == AF_INET) {
        const auto *in = reinterpret_cast<const sockaddr_in *>(address);
        inet_ntop(AF_INET, &in->sin_addr, text, sizeof text);
        snprintf(port, sizeof port, "%u", unsigned(ntohs(in->sin_port)));
    } else if (address->sa_family == AF_INET6) {
        const auto *in6 = reinterpret_cast<const sockaddr_in6 *>(address);
        inet_ntop(AF_INET6, &in6->sin6_addr, text, sizeof text);
        snprintf(port, sizeof port, "%u", unsigned(ntohs(in6->sin6_port)));
    } else {
        return; // local sockets (the single-instance socket, D-Bus) are not the network
    }
    char format[32];
    snprintf(format, sizeof format, "%s %%s %%s\n", what);
    record(format, text, port);
}

template<typename Function> Function next(const char *name)
{
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

} // namespace

extern "C" {

int getaddrinfo(const char *node, const char *service, const struct addrinfo *hints, struct addrinfo **res)
{
    record("lookup %s%s\n", node ? node : "(null)");
    static const auto real
        = next<int (*)(const char *, const char *, const addrinfo *, addrinfo **)>("getaddrinfo");
    return real(node, service, hints, res);
}

struct hostent *gethostbyname(const char *name)
{
    record("lookup %s%s\n", name ? name : "(null)");
    static const auto real = next<hostent *(*)(const char *)>("gethostbyname");
    return real(name);
}

struct hostent *gethostbyname2(const char *name, int family)
{
    record("lookup %s%s\n", name ? name : "(null)");
    static const auto real = next<hostent *(*)(const char *, int)>("gethostbyname2");
    return real(name, family);
}

int gethostbyname_r(
    const char *name, struct hostent *ret, char *buf, size_t buflen, struct hostent **result, int *h_errnop)
{
    record("lookup %s%s\n", name ? name : "(null)");
    static const auto real
        = next<int (*)(const char *, hostent *, char *, size_t, hostent **, int *)>("gethostbyname_r");
    return real(name, ret, buf, buflen, result, h_errnop);
}

int socket(int domain, int type, int protocol)
{
    if (domain == AF_INET || domain == AF_INET6)
        record("socket %s%s\n", domain == AF_INET ? "inet" : "inet6");
    static const auto real = next<int (*)(int, int, int)>("socket");
    return real(domain, type, protocol);
}

int connect(int fd, const struct sockaddr *address, socklen_t length)
{
    recordAddress("connect", address);
    static const auto real = next<int (*)(int, const sockaddr *, socklen_t)>("connect");
    return real(fd, address, length);
}

ssize_t sendto(int fd, const void *buffer, size_t length, int flags, const struct sockaddr *address,
    socklen_t addressLength)
{
    recordAddress("sendto", address);
    static const auto real
        = next<ssize_t (*)(int, const void *, size_t, int, const sockaddr *, socklen_t)>("sendto");
    return real(fd, buffer, length, flags, address, addressLength);
}

} // extern "C"
