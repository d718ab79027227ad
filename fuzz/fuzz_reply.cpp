// Reads arbitrary bytes as a reply datagram, exactly as the transfer does, and checks that the
// reading agrees with the bytes. The datagram is copied into a buffer of its exact size, so
// AddressSanitizer catches any read past its end.
#include "packets.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {
void require(bool condition, const char *what)
{
    if (!condition) {
        std::fprintf(stderr, "invariant failed: %s\n", what);
        std::abort();
    }
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::vector<char> datagram(data, data + size);
    const Tftp::Reply reply = Tftp::readReply(datagram.data(), qsizetype(datagram.size()));

    if (size < 2) {
        require(reply.kind == Tftp::Reply::Malformed, "a datagram under 2 bytes is malformed");
        return 0;
    }
    const quint16 opcode = quint16((data[0] << 8) | data[1]);
    require(reply.opcode == opcode, "opcode is the first two bytes");
    switch (opcode) {
    case Tftp::ReadRequest:
    case Tftp::WriteRequest:
    case Tftp::Data:
        require(reply.kind == Tftp::Reply::Unexpected, "RRQ, WRQ and DATA are unexpected");
        break;
    case Tftp::OptionAck:
        require(reply.kind == Tftp::Reply::OptionAcknowledgement, "OACK");
        break;
    case Tftp::Ack:
    case Tftp::Error:
        if (size < 4) {
            require(reply.kind == Tftp::Reply::Malformed, "ACK or ERROR without a number");
            break;
        }
        require(reply.number == quint16((data[2] << 8) | data[3]), "number is bytes 2 and 3");
        if (opcode == Tftp::Ack) {
            require(reply.kind == Tftp::Reply::Acknowledgement, "ACK");
            require(reply.message.isEmpty(), "an ACK carries no text");
        } else {
            require(reply.kind == Tftp::Reply::ErrorReply, "ERROR");
            // The text ends at the first NUL or at the end of the datagram.
            const auto *text = reinterpret_cast<const char *>(data + 4);
            const size_t textLength = strnlen(text, size - 4);
            require(reply.message == QString::fromUtf8(text, qsizetype(textLength)),
                    "ERROR text is the bytes up to the first NUL");
        }
        break;
    default:
        require(reply.kind == Tftp::Reply::Unknown, "any other opcode is unknown");
        break;
    }
    return 0;
}
