// A stand-in transmitter for bench/fleet: a TFTP write server that takes one upload at a time
// and, like a device writing each block to flash, waits a fixed time before it acknowledges a
// block. Each upload gets a port of its own, as TFTP wants. It stores nothing: for each upload
// that ends it prints "NAME BYTES" (or "NAME failed") on standard output.
//
//   tstx_fleet_device ADDRESS PORT DELAY_MS     (DELAY_MS may have a fraction: 0.5)
//
// Linux bench code: plain POSIX sockets, IPv4 only.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {
constexpr int blockSize = 512;
constexpr int replyTimeoutSeconds = 5;

int boundSocket(const in_addr &address, uint16_t port)
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in local {};
    local.sin_family = AF_INET;
    local.sin_addr = address;
    local.sin_port = htons(port);
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr *>(&local), sizeof local) != 0) {
        std::perror("tstx_fleet_device: bind");
        std::exit(1);
    }
    return fd;
}

void sendTo(int fd, const std::string &packet, const sockaddr_in &peer)
{
    ::sendto(fd, packet.data(), packet.size(), 0, reinterpret_cast<const sockaddr *>(&peer),
             sizeof peer);
}

std::string ack(uint16_t block)
{
    return {0, 4, char(block >> 8), char(block & 0xff)};
}

// Takes the DATA blocks of one upload on a socket of its own; the byte count, or -1.
long long receiveUpload(int fd, const sockaddr_in &client, const std::string &firstReply,
                        std::chrono::microseconds delay)
{
    sendTo(fd, firstReply, client);
    std::string lastReply = firstReply;
    uint16_t expected = 1;
    long long bytes = 0;
    std::vector<char> buffer(4 + blockSize + 1);
    for (;;) {
        sockaddr_in from {};
        socklen_t fromSize = sizeof from;
        const ssize_t size = ::recvfrom(fd, buffer.data(), buffer.size(), 0,
                                        reinterpret_cast<sockaddr *>(&from), &fromSize);
        if (size < 0)
            return -1; // no block within the timeout
        if (from.sin_port != client.sin_port || from.sin_addr.s_addr != client.sin_addr.s_addr)
            continue;
        if (size < 4 || buffer[1] != 3)
            return -1; // an ERROR, or something no client sends
        const uint16_t block = uint16_t((uint8_t(buffer[2]) << 8) | uint8_t(buffer[3]));
        if (block != expected) {
            sendTo(fd, lastReply, client); // a repeat: the client missed the last ACK
            continue;
        }
        bytes += size - 4;
        std::this_thread::sleep_for(delay);
        lastReply = ack(block);
        sendTo(fd, lastReply, client);
        ++expected;
        if (size - 4 < blockSize)
            return bytes;
    }
}
} // namespace

int main(int argc, char *argv[])
{
    in_addr address {};
    if (argc != 4 || ::inet_pton(AF_INET, argv[1], &address) != 1) {
        std::fprintf(stderr, "usage: tstx_fleet_device ADDRESS PORT DELAY_MS\n");
        return 2;
    }
    const auto delay = std::chrono::microseconds(std::llround(std::atof(argv[3]) * 1000));
    const int listener = boundSocket(address, uint16_t(std::atoi(argv[2])));

    std::vector<char> request(blockSize + 4);
    for (;;) {
        sockaddr_in client {};
        socklen_t clientSize = sizeof client;
        const ssize_t size = ::recvfrom(listener, request.data(), request.size() - 1, 0,
                                        reinterpret_cast<sockaddr *>(&client), &clientSize);
        if (size < 4 || request[0] != 0 || request[1] != 2)
            continue; // only write requests
        request[size_t(size)] = '\0';
        // WRQ: name, mode, then option/value pairs; "tsize" is answered with an OACK.
        const std::string name(&request[2]);
        std::string firstReply = ack(0);
        for (size_t at = 2 + name.size() + 1; at < size_t(size);) {
            const std::string field(&request[at]);
            at += field.size() + 1;
            if (field == "tsize" && at < size_t(size)) {
                const std::string value(&request[at]);
                at += value.size() + 1;
                firstReply = std::string("\0\6tsize\0", 8) + value + '\0';
            }
        }
        const int transfer = boundSocket(address, 0);
        const timeval timeout {replyTimeoutSeconds, 0};
        ::setsockopt(transfer, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        const long long bytes = receiveUpload(transfer, client, firstReply, delay);
        ::close(transfer);
        if (bytes < 0)
            std::printf("%s failed\n", name.c_str());
        else
            std::printf("%s %lld\n", name.c_str(), bytes);
        std::fflush(stdout);
    }
}
