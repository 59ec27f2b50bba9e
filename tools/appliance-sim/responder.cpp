#include "responder.h"

#include <cstdio>
#include <ctime>

namespace velmora::sim {

using namespace velmora::protocol;

namespace {

std::string hex(const std::uint8_t* bytes, std::size_t n) {
    std::string out;
    char b[3];
    for (std::size_t i = 0; i < n; ++i) {
        std::snprintf(b, sizeof b, "%02x", bytes[i]);
        out += b;
    }
    return out;
}

std::string macText(const ApplianceMac& mac) {
    char b[18];
    std::snprintf(b, sizeof b, "%02x:%02x:%02x:%02x:%02x:%02x", mac.bytes[0], mac.bytes[1],
                  mac.bytes[2], mac.bytes[3], mac.bytes[4], mac.bytes[5]);
    return b;
}

// Printable form of a value for the log: quoted with escapes.
std::string quoted(const std::vector<std::uint8_t>& bytes) {
    std::string out = "\"";
    for (std::uint8_t c : bytes) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
        } else {
            char b[5];
            std::snprintf(b, sizeof b, "\\x%02x", c);
            out += b;
        }
    }
    return out + "\"";
}

std::string varbindText(const Varbind& v) {
    std::uint16_t group = 0;
    std::uint16_t id = 0;
    char name[16];
    if (attributeFromOid(v.name, &group, &id)) {
        std::snprintf(name, sizeof name, "%04X.%04X", group, id);
    } else {
        std::snprintf(name, sizeof name, "oid(%d)", v.name.count);
    }
    std::string out = std::string(name) + ":";
    switch (v.type) {
    case value::kNull:
        return out + "null";
    case value::kOctetString:
        return out + "octets" + quoted(v.octets);
    case value::kObjectId:
        return out + "oid";
    case value::kIpAddress:
        return out + "ip" + dottedAddress(*reinterpret_cast<const std::uint32_t*>(v.ipv4.data()));
    default: {
        char b[32];
        std::snprintf(b, sizeof b, "int%02X=%d", v.type, v.integer);
        return out + b;
    }
    }
}

const char* kindOf(const Message& m) {
    if (m.hasPdu()) {
        const std::uint8_t type = m.pduHeader()->type;
        if (m.flags() & flags::kText) {
            return "identity";
        }
        return type == pdu::kGet        ? "get"
               : type == pdu::kSet      ? "set"
               : type == pdu::kResponse ? "response"
                                        : "pdu";
    }
    if (m.flags() & flags::kText) {
        return "identity";
    }
    if ((m.flags() & ~flags::kDirected) == flags::kAction) {
        return "shutdown";
    }
    return "status";
}

std::vector<std::uint8_t> toBytes(const std::string& s) {
    return {s.begin(), s.end()};
}

} // namespace

std::string dottedAddress(std::uint32_t networkOrder) {
    const auto* b = reinterpret_cast<const std::uint8_t*>(&networkOrder);
    char out[16];
    std::snprintf(out, sizeof out, "%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
    return out;
}

std::string describe(const Message& m) {
    const char* tag = m.isRequest() ? "IMCC" : m.isReply() ? "IMCR" : "IMCN";
    char head[64];
    std::snprintf(head, sizeof head, "%s flags=0x%08X", tag, m.flags());
    std::string out = std::string(head) + " mac=" + macText(m.mac()) + " kind=" + kindOf(m);
    if (m.deviceName())
        out += std::string(" device=\"") + m.deviceName() + "\"";
    if (m.productName())
        out += std::string(" product=\"") + m.productName() + "\"";
    if (m.firmware())
        out += std::string(" firmware=\"") + m.firmware() + "\"";
    if (m.text())
        out += std::string(" text=\"") + m.text() + "\"";
    if (m.hostKey())
        out += " hostkey=" + hex(m.hostKey(), 16);
    if (m.block128())
        out += " block128=" + hex(m.block128(), 128);
    if (m.hasTimeStamp())
        out += " time=" + std::to_string(m.timeStamp());
    if (const PduHeader* p = m.pduHeader()) {
        char b[96];
        std::snprintf(b, sizeof b, " pdu=%02X id=%d status=%d index=%d community=", p->type,
                      p->requestId, p->errorStatus, p->errorIndex);
        out += b + quoted(toBytes(p->community));
        for (const Varbind& v : m.varbinds()) {
            out += " vb=" + varbindText(v);
        }
    }
    return out;
}

Outcome Responder::handle(const std::uint8_t* bytes, int length, std::uint32_t source,
                          const std::string& destination) {
    Outcome outcome;
    const std::string from =
        "from=" + dottedAddress(source) + " to=" + destination + " len=" + std::to_string(length);
    std::unique_ptr<Message> request;
    const int rc = Message::parse(bytes, length, source, &request);
    if (rc != kRawOk) {
        outcome.log.push_back("RX " + from + " undecodable (" + std::to_string(rc) + ") " +
                              hex(bytes, static_cast<std::size_t>(length < 32 ? length : 32)));
        return outcome;
    }
    outcome.log.push_back("RX " + from + " " + describe(*request));
    if (!request->isRequest()) {
        outcome.log.push_back("IGNORED not a request");
        return outcome;
    }
    ++requestsSeen_;
    if (requestsSeen_ <= config_.dropFirst) {
        outcome.log.push_back("DROPPED request " + std::to_string(requestsSeen_) +
                              " of the first " + std::to_string(config_.dropFirst));
        return outcome;
    }
    if (!request->mac().isAny() && !(request->mac() == config_.mac)) {
        outcome.log.push_back("IGNORED other appliance's MAC");
        return outcome;
    }

    Message reply;
    reply.setKind(MessageKind::kReply);
    ApplianceMac mac = config_.mac;
    if (config_.wrongMac) {
        mac.bytes[5] ^= 0x01;
    }
    reply.setMac(mac);
    const std::uint32_t asked = request->flags();
    reply.setFlags(asked & flags::kMatchMask & ~flags::kPdu);
    const std::string kind = kindOf(*request);

    if (kind == "status") {
        reply.addFlags(config_.statusFlags & ~flags::kAction);
        if (asked & flags::kString1)
            reply.setString1("");
        if (asked & flags::kDeviceName)
            reply.setDeviceName(config_.deviceName.c_str());
        if (asked & flags::kProductName)
            reply.setProductName(config_.product.c_str());
        if (asked & flags::kFirmware)
            reply.setFirmware(config_.firmware.c_str());
        if (asked & flags::kString5)
            reply.setString5("");
    } else if (kind == "shutdown") {
        outcome.shutdown = true;
    } else if (kind == "identity") {
        if (!config_.answerIdentity) {
            outcome.log.push_back("IGNORED identity (answer_identity = 0)");
            return outcome;
        }
        reply.setText(config_.deviceName.c_str());
        if (request->hostKey())
            reply.setHostKey(request->hostKey());
        if (request->block128())
            reply.setBlock128(request->block128());
        if (asked & flags::kTimeStamp)
            reply.setTimeStamp(static_cast<std::uint32_t>(std::time(nullptr)));
    }

    if (request->hasPdu()) {
        const PduHeader& in = *request->pduHeader();
        reply.setPduType(pdu::kResponse);
        reply.ensurePduHeader().community = in.community;
        reply.setRequestId(config_.wrongRequestId ? in.requestId + 1000 : in.requestId);
        std::int32_t status = 0;
        std::int32_t index = 0;
        int position = 0;
        for (const Varbind& v : request->varbinds()) {
            ++position;
            std::uint16_t group = 0;
            std::uint16_t id = 0;
            Varbind answer = v;
            if (!attributeFromOid(v.name, &group, &id)) {
                if (status == 0) {
                    status = 2;
                    index = position;
                }
                reply.addVarbind(answer);
                continue;
            }
            const AttributeKey key{group, id};
            if (in.type == pdu::kSet) {
                std::vector<std::uint8_t> stored;
                if (v.type == value::kOctetString) {
                    stored = v.octets;
                } else if (value::isIntegerType(v.type)) {
                    stored = toBytes(std::to_string(v.integer));
                } else {
                    if (status == 0) {
                        status = 3;
                        index = position;
                    }
                    reply.addVarbind(answer);
                    continue;
                }
                config_.attributes[key] = stored;
                char name[16];
                std::snprintf(name, sizeof name, "%04X.%04X", group, id);
                outcome.log.push_back(std::string("SET ") + name + " = " + quoted(stored));
            } else if (group == 0xF000 && id == 0xF080) {
                // The script queue: each query hands out the next command, then nothing.
                std::string command;
                if (!config_.scripts.empty()) {
                    command = config_.scripts.front();
                    config_.scripts.pop_front();
                }
                answer.type = value::kOctetString;
                answer.octets = toBytes(command);
            } else if (auto it = config_.attributes.find(key); it != config_.attributes.end()) {
                answer.type = value::kOctetString;
                answer.octets = it->second;
            } else if (kind == "identity") {
                answer.type = value::kNull; // the host does not read this answer
            } else if (status == 0) {
                status = 2; // noSuchName
                index = position;
            }
            reply.addVarbind(answer);
        }
        reply.setErrorStatus(status);
        reply.setErrorIndex(index);
        reply.addFlags(flags::kPdu);
    }

    std::unique_ptr<PacketBuffer> datagram;
    const int built = reply.build(&datagram);
    if (built != kRawOk) {
        outcome.log.push_back("ERROR building the reply (" + std::to_string(built) + ")");
        return outcome;
    }
    outcome.reply.assign(datagram->data(), datagram->data() + datagram->remaining());
    outcome.log.push_back("TX to=" + dottedAddress(source) +
                          " len=" + std::to_string(outcome.reply.size()) + " " + describe(reply));
    return outcome;
}

std::vector<std::uint8_t> Responder::notification(std::string* logLine) {
    Message note;
    note.setKind(MessageKind::kNotification);
    note.setMac(config_.mac);
    std::unique_ptr<PacketBuffer> datagram;
    if (note.build(&datagram) != kRawOk) {
        return {};
    }
    *logLine = describe(note);
    return {datagram->data(), datagram->data() + datagram->remaining()};
}

} // namespace velmora::sim
