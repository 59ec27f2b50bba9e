// Appliance datagrams: one Message per UDP datagram ("IMCC" request from the host, "IMCR" reply and
// "IMCN" notification from the appliance), a fixed header, optional fields announced by the flag
// word, and optionally an SNMP v1 style PDU with variable bindings.
//
// Usage, host side (a status request and an attribute query):
//     Message request;                          // request, MAC FF..FF, flags 0
//     request.setMac(mac);
//     request.setFlags(flags::kDeviceName | flags::kProductName | flags::kFirmware);
//     Message query;
//     query.setPduType(pdu::kGet);
//     query.setCommunity("", "");
//     query.addNullVarbind(0xF000, 0xF010);     // sets flags::kPdu
//     RequestChannel::send(...) numbers, builds and sends them.
//
// Usage, appliance side (what a simulator does):
//     std::unique_ptr<Message> request;
//     if (Message::parse(bytes, length, source, &request) == kRawOk && request->isRequest()) {
//         Message reply;
//         reply.setKind(MessageKind::kReply);
//         reply.setMac(ownMac);
//         // The reply must agree with the request in the bits flags::kMatchMask.
//         reply.setFlags(request->flags() & flags::kMatchMask);
//         reply.setDeviceName("appliance");      // rows 8 to 12 are written for replies and
//         reply.setProductName("Product");       // notifications whenever their flag is set
//         reply.setFirmware("1.0");
//         // For a PDU request: reply.setPduType(pdu::kResponse); reply.setRequestId(id);
//         //   reply.setErrorStatus(0); reply.addOctetsVarbind(group, id, bytes, n);
//         std::unique_ptr<PacketBuffer> datagram;
//         if (reply.build(&datagram) == kRawOk) send(datagram->data(), datagram->remaining());
//     }
// A notification is a Message of kind kNotification built the same way.
//
// Layout rules that differ by kind: a request writes words A to C, number D and the device name
// only together with flags::kAction, never strings S1, product, firmware or S5, and its host key
// whenever flags::kHostKey is set; a reply or notification writes every optional field whose flag
// is set, except the host key, which follows the text. Parsing mirrors the same rules, so what
// build() writes, parse() reads back.
#pragma once
#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "protocol/ber.h"
#include "protocol/packet_buffer.h"
#include "protocol/transport.h"

namespace velmora::protocol {

struct ApplianceMac {
    std::array<std::uint8_t, 6> bytes{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};

    static ApplianceMac any() { return ApplianceMac{}; }
    bool isAny() const;  // FF FF FF FF FF FF addresses any appliance
    bool isZero() const; // 00 00 00 00 00 00 is never valid
    bool operator==(const ApplianceMac&) const = default;
};

namespace flags {
inline constexpr std::uint32_t kAction = 0x00000001;
inline constexpr std::uint32_t kDirected = 0x00000002;
inline constexpr std::uint32_t kWordA = 0x00000004;
inline constexpr std::uint32_t kWordB = 0x00000008;
inline constexpr std::uint32_t kWordC = 0x00000010;
inline constexpr std::uint32_t kNumberD = 0x00000020;
inline constexpr std::uint32_t kString1 = 0x00000040;
inline constexpr std::uint32_t kDeviceName = 0x00000080;
inline constexpr std::uint32_t kProductName = 0x00000100;
inline constexpr std::uint32_t kFirmware = 0x00000200;
inline constexpr std::uint32_t kString5 = 0x00000400;
inline constexpr std::uint32_t kText = 0x00010000;
inline constexpr std::uint32_t kHostKey = 0x00020000;
inline constexpr std::uint32_t kBlock128 = 0x00040000;
inline constexpr std::uint32_t kTimeStamp = 0x00080000;
inline constexpr std::uint32_t kIdentityPdu = 0x40000000;
inline constexpr std::uint32_t kPdu = 0x80000000;
// Bits a reply must share with its request.
inline constexpr std::uint32_t kMatchMask = 0x800D07FE;
} // namespace flags

namespace pdu {
inline constexpr std::uint8_t kGet = 0xA0;
inline constexpr std::uint8_t kGetNext = 0xA1;
inline constexpr std::uint8_t kResponse = 0xA2;
inline constexpr std::uint8_t kSet = 0xA3;
bool isAcceptedType(std::uint8_t type); // A0..A3, F0..F2
} // namespace pdu

// Varbind value types.
namespace value {
inline constexpr std::uint8_t kBoolean = 0x01;
inline constexpr std::uint8_t kInteger = 0x02;
inline constexpr std::uint8_t kOctetString = 0x04;
inline constexpr std::uint8_t kNull = 0x05;
inline constexpr std::uint8_t kObjectId = 0x06;
inline constexpr std::uint8_t kEnumerated = 0x0A;
inline constexpr std::uint8_t kIpAddress = 0x40;
inline constexpr std::uint8_t kCounter = 0x41;
inline constexpr std::uint8_t kGauge = 0x42;
inline constexpr std::uint8_t kTimeTicks = 0x43;
inline constexpr std::uint8_t kUInteger = 0x50;
bool isIntegerType(std::uint8_t type);
bool isSupportedType(std::uint8_t type);
} // namespace value

inline constexpr int kAttributeOidArcs = 12;
// 1.3.6.1.4.1.4491.8888.1.group.id.0
Oid attributeOid(std::uint16_t group, std::uint16_t id);
// True when `oid` has the attribute form; stores its group and id.
bool attributeFromOid(const Oid& oid, std::uint16_t* group, std::uint16_t* id);

struct PduHeader {
    std::uint8_t type = pdu::kGet;
    std::string community;
    std::int32_t requestId = 0;
    std::int32_t errorStatus = 0;
    std::int32_t errorIndex = 0;
};

struct Varbind {
    Oid name;
    std::uint8_t type = value::kNull;
    std::int32_t integer = 0;           // integer types
    std::vector<std::uint8_t> octets;   // octet string
    Oid oid;                            // object identifier
    std::array<std::uint8_t, 4> ipv4{}; // IP address, network order
};

enum class MessageKind { kRequest, kReply, kNotification };

class Message {
public:
    Message() = default;

    // Parses the bytes [cursor, end) of a received datagram: 0, 5 (malformed or unsupported) or
    // 20 (out of memory). Never reads outside that range, whatever the lengths inside say.
    static int parse(PacketBuffer& datagram, std::uint32_t source, std::unique_ptr<Message>* out);
    static int parse(const std::uint8_t* bytes, int length, std::uint32_t source,
                     std::unique_ptr<Message>* out);

    // Builds the datagram into a new 2048-byte buffer; the datagram is [cursor, 2048).
    // 0; 1 the PDU does not fit; 5 unsupported value type, varbinds without a PDU header, or the
    // fields do not fit; 20 out of memory. Sets or clears flags::kPdu to what was written.
    int build(std::unique_ptr<PacketBuffer>* out);
    // The same, prepending into the caller's buffer at its cursor.
    int encode(PacketBuffer& buffer);

    MessageKind kind() const { return kind_; }
    void setKind(MessageKind kind) { kind_ = kind; }
    bool isRequest() const { return kind_ == MessageKind::kRequest; }
    bool isReply() const { return kind_ == MessageKind::kReply; }
    bool isNotification() const { return kind_ == MessageKind::kNotification; }

    const ApplianceMac& mac() const { return mac_; }
    void setMac(const ApplianceMac& mac) { mac_ = mac; }
    std::uint32_t flags() const { return flags_; }
    std::uint32_t getFlags() const { return flags_; }
    void setFlags(std::uint32_t value) { flags_ = value; }
    void addFlags(std::uint32_t value) { flags_ |= value; }
    std::uint32_t sourceAddress() const { return source_; } // network order
    void setSourceAddress(std::uint32_t address) { source_ = address; }

    // Words A to C (raw) and number D; each setter also sets its flag.
    const std::array<std::uint8_t, 4>& wordA() const { return words_[0]; }
    const std::array<std::uint8_t, 4>& wordB() const { return words_[1]; }
    const std::array<std::uint8_t, 4>& wordC() const { return words_[2]; }
    std::uint32_t numberD() const { return numberD_; }
    void setWordA(const std::array<std::uint8_t, 4>& word);
    void setWordB(const std::array<std::uint8_t, 4>& word);
    void setWordC(const std::array<std::uint8_t, 4>& word);
    void setNumberD(std::uint32_t number);

    // Strings: null when absent. Each setter copies and sets its flag; null clears both.
    const char* string1() const { return str(string1_); }
    const char* deviceName() const { return str(deviceName_); }
    const char* productName() const { return str(productName_); }
    const char* firmware() const { return str(firmware_); }
    const char* string5() const { return str(string5_); }
    const char* text() const { return str(text_); }
    void setString1(const char* value) { setString(&string1_, flags::kString1, value); }
    void setDeviceName(const char* value) { setString(&deviceName_, flags::kDeviceName, value); }
    void setProductName(const char* value) { setString(&productName_, flags::kProductName, value); }
    void setFirmware(const char* value) { setString(&firmware_, flags::kFirmware, value); }
    void setString5(const char* value) { setString(&string5_, flags::kString5, value); }
    void setText(const char* value) { setString(&text_, flags::kText, value); }

    // Blocks: null when never set or received.
    const std::uint8_t* hostKey() const { return hasHostKey_ ? hostKey_.data() : nullptr; }
    const std::uint8_t* block128() const { return hasBlock128_ ? block128_.data() : nullptr; }
    void setHostKey(const std::uint8_t key[16]);     // sets flags::kHostKey
    void setBlock128(const std::uint8_t block[128]); // sets flags::kBlock128
    // Without a stored time stamp, building with flags::kTimeStamp writes the current time.
    bool hasTimeStamp() const { return hasTimeStamp_; }
    std::uint32_t timeStamp() const { return timeStamp_; }
    void setTimeStamp(std::uint32_t secondsSince1970); // sets flags::kTimeStamp

    // PDU header, created on first use of a setter.
    const PduHeader* pduHeader() const { return pdu_.get(); }
    bool hasPdu() const { return pdu_ != nullptr; }
    PduHeader& ensurePduHeader();
    void setPduType(std::uint8_t type) { ensurePduHeader().type = type; }
    void setCommunity(const char* first, const char* second); // "%s:%s"
    void setRequestId(std::int32_t id) { ensurePduHeader().requestId = id; }
    void setErrorStatus(std::int32_t status) { ensurePduHeader().errorStatus = status; }
    void setErrorIndex(std::int32_t index) { ensurePduHeader().errorIndex = index; }
    // The reply's error status, or 5 when it has no PDU.
    int errorStatus() const;

    // Varbinds, in the order added (or received). Adding sets flags::kPdu. Results 0 or 5.
    const std::vector<Varbind>& varbinds() const { return varbinds_; }
    int addVarbind(Varbind varbind);
    // The generic form: integer types and 0x40 read 4 bytes at `value` (an int32_t, or the
    // address bytes); 0x04 reads `length` bytes, or a C string when length < 0; 0x05 reads
    // nothing; 0x06 reads an Oid.
    int addVarbind(std::uint16_t group, std::uint16_t id, std::uint8_t type, const void* value,
                   int length);
    int addIntegerVarbind(std::uint16_t group, std::uint16_t id, std::uint8_t type,
                          std::int32_t value);
    int addOctetsVarbind(std::uint16_t group, std::uint16_t id, const void* bytes, int length);
    int addNullVarbind(std::uint16_t group, std::uint16_t id);

    // Removes the first varbind and copies its value. expectedType 0 accepts any type, otherwise
    // a different type gives 5 (as does an empty list). Integer types and 0x40 copy 4 bytes; an
    // octet string copies min(*length, size) bytes and stores the count, or without `length`
    // copies all and appends a zero; NULL copies nothing; an OID copies its arcs when *length
    // (in arcs) is at least their count and stores the count, otherwise gives 1.
    int takeFirstValue(std::uint8_t expectedType, void* destination, int* length);

private:
    static const char* str(const std::optional<std::string>& s) { return s ? s->c_str() : nullptr; }
    void setString(std::optional<std::string>* field, std::uint32_t flag, const char* value);
    int encodeFields(PacketBuffer& buffer, std::uint32_t flagWord) const;
    int encodePdu(PacketBuffer& buffer) const;
    int parseFields(PacketBuffer& buffer);
    int parsePdu(PacketBuffer& buffer);
    int parseVarbind(PacketBuffer& buffer);

    MessageKind kind_ = MessageKind::kRequest;
    ApplianceMac mac_;
    std::uint32_t flags_ = 0;
    std::uint32_t source_ = 0;
    std::array<std::array<std::uint8_t, 4>, 3> words_{};
    std::uint32_t numberD_ = 0;
    std::optional<std::string> string1_, deviceName_, productName_, firmware_, string5_, text_;
    bool hasHostKey_ = false;
    bool hasBlock128_ = false;
    bool hasTimeStamp_ = false;
    std::array<std::uint8_t, 16> hostKey_{};
    std::array<std::uint8_t, 128> block128_{};
    std::uint32_t timeStamp_ = 0;
    std::unique_ptr<PduHeader> pdu_;
    std::vector<Varbind> varbinds_;
};

} // namespace velmora::protocol
