// A lossy link on loopback for bench/lossy: relays TFTP between clients and one server, and drops
// each datagram, either way, with a fixed probability drawn from a seeded generator, so that a
// run can be repeated loss for loss.
//
//   tstx_lossy_relay LISTEN_PORT SERVER_PORT LOSS SEED
//
// Clients send their requests to 127.0.0.1:LISTEN_PORT. The server answers each transfer from a
// port of its own (its transfer identifier); the relay answers the client from a port of its own
// for each of those, as a NAT would, so that both sides see one peer per transfer. Every address
// is on 127.0.0.1. Ends on SIGTERM or SIGINT, or after an hour.
#include <arpa/inet.h>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <map>
#include <memory>
#include <netinet/in.h>
#include <poll.h>
#include <random>
#include <sys/socket.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {
volatile std::sig_atomic_t stopRequested = 0;

class Socket
{
public:
    Socket()
        : m_descriptor(::socket(AF_INET, SOCK_DGRAM, 0))
    { }
    ~Socket()
    {
        if (m_descriptor >= 0)
            ::close(m_descriptor);
    }
    Socket(const Socket &) = delete;
    Socket &operator=(const Socket &) = delete;
    bool bind(unsigned short port)
    {
        const sockaddr_in address = loopback(port);
        return m_descriptor >= 0
            && ::bind(m_descriptor, reinterpret_cast<const sockaddr *>(&address), sizeof(address))
            == 0;
    }
    [[nodiscard]] int descriptor() const { return m_descriptor; }
    static sockaddr_in loopback(unsigned short port)
    {
        sockaddr_in address {};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        return address;
    }

private:
    int m_descriptor;
};

// One client's transfers: the socket that talks to the server for it, and for each transfer port
// of the server, the socket that talks to the client.
struct Session
{
    unsigned short clientPort = 0;
    Socket towardsServer;
    std::map<unsigned short, std::unique_ptr<Socket>> towardsClient; // by the server's port
};

class Relay
{
public:
    Relay(unsigned short serverPort, double loss, unsigned seed)
        : m_serverPort(serverPort)
        , m_loss(loss)
        , m_random(seed)
    { }

    bool listen(unsigned short port) { return m_listener.bind(port); }

    void run()
    {
        const std::time_t end = std::time(nullptr) + 3600;
        std::vector<pollfd> watched;
        std::vector<std::pair<Session *, unsigned short>> owners; // per watched socket
        while (!stopRequested && std::time(nullptr) < end) {
            watched.assign(1, pollfd {m_listener.descriptor(), POLLIN, 0});
            owners.assign(1, {nullptr, 0});
            for (auto &[clientPort, session] : m_sessions) {
                watched.push_back({session->towardsServer.descriptor(), POLLIN, 0});
                owners.emplace_back(session.get(), 0);
                for (auto &[serverPort, socket] : session->towardsClient) {
                    watched.push_back({socket->descriptor(), POLLIN, 0});
                    owners.emplace_back(session.get(), serverPort);
                }
            }
            if (::poll(watched.data(), watched.size(), 500) <= 0)
                continue;
            for (size_t i = 0; i < watched.size(); ++i) {
                if ((watched[i].revents & POLLIN) != 0)
                    forward(watched[i].fd, owners[i].first, owners[i].second);
            }
        }
    }

private:
    bool dropped() { return m_chance(m_random) < m_loss; }

    static void sendTo(int descriptor, const char *data, ssize_t size, unsigned short port)
    {
        const sockaddr_in target = Socket::loopback(port);
        ::sendto(descriptor, data, size_t(size), 0, reinterpret_cast<const sockaddr *>(&target),
                 sizeof(target));
    }

    // A datagram on descriptor: from a client to the listener (session null), from the server to
    // a session, or from a client to one of its transfer sockets (serverPort set).
    void forward(int descriptor, Session *session, unsigned short serverPort)
    {
        char buffer[65536];
        sockaddr_in sender {};
        socklen_t senderLength = sizeof(sender);
        const ssize_t size = ::recvfrom(descriptor, buffer, sizeof(buffer), 0,
                                        reinterpret_cast<sockaddr *>(&sender), &senderLength);
        if (size < 0 || dropped())
            return;
        const unsigned short from = ntohs(sender.sin_port);
        if (!session) {
            // A request: to the server's port, through the client's session.
            auto &owned = m_sessions[from];
            if (!owned) {
                owned = std::make_unique<Session>();
                owned->clientPort = from;
                owned->towardsServer.bind(0);
            }
            sendTo(owned->towardsServer.descriptor(), buffer, size, m_serverPort);
        } else if (serverPort == 0) {
            // The server, from the transfer port from: to the client, from that transfer's socket.
            auto &socket = session->towardsClient[from];
            if (!socket) {
                socket = std::make_unique<Socket>();
                socket->bind(0);
            }
            sendTo(socket->descriptor(), buffer, size, session->clientPort);
        } else if (from == session->clientPort) {
            sendTo(session->towardsServer.descriptor(), buffer, size, serverPort);
        }
    }

    Socket m_listener;
    unsigned short m_serverPort;
    double m_loss;
    std::mt19937_64 m_random;
    std::uniform_real_distribution<double> m_chance {0.0, 1.0};
    std::map<unsigned short, std::unique_ptr<Session>> m_sessions; // by the client's port
};
} // namespace

int main(int argc, char **argv)
{
    if (argc != 5) {
        std::fprintf(stderr, "usage: %s LISTEN_PORT SERVER_PORT LOSS SEED\n", argv[0]);
        return 2;
    }
    const auto listenPort = static_cast<unsigned short>(std::atoi(argv[1]));
    const auto serverPort = static_cast<unsigned short>(std::atoi(argv[2]));
    Relay relay(serverPort, std::atof(argv[3]),
                static_cast<unsigned>(std::strtoul(argv[4], nullptr, 10)));
    if (!relay.listen(listenPort)) {
        std::perror("tstx_lossy_relay: bind");
        return 1;
    }
    std::signal(SIGTERM, [](int) { stopRequested = 1; });
    std::signal(SIGINT, [](int) { stopRequested = 1; });
    relay.run();
    return 0;
}
