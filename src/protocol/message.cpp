#include "protocol/message.h"

#include <cstring>
#include <ctime>
#include <new>

namespace velmora::protocol {

namespace {

constexpr std::uint8_t kTagRequest[4] = {'I', 'M', 'C', 'C'};
constexpr std::uint8_t kTagReply[4] = {'I', 'M', 'C', 'R'};
constexpr std::uint8_t kTagNotification[4] = {'I', 'M', 'C', 'N'};
constexpr int kFixedHeaderSize = 14;

constexpr std::uint32_t kAttributePrefix[9] = {1, 3, 6, 1, 4, 1, 4491, 8888, 1};

int prependWord(std::uint32_t value, PacketBuffer& buffer) {
    const std::uint8_t bytes[4] = {
        static_cast<std::uint8_t>(value >> 24), static_cast<std::uint8_t>(value >> 16),
        static_cast<std::uint8_t>(value >> 8), static_cast<std::uint8_t>(value)};
    return buffer.prependBytes(bytes, 4);
}

int readWord(std::uint32_t* value, PacketBuffer& buffer) {
    std::uint8_t bytes[4];
    if (buffer.readBytes(bytes, 4) != 0) {
        return -1;
    }
    *value = (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) |
             (std::uint32_t{bytes[2]} << 8) | bytes[3];
    return 0;
}

// A zero-terminated field; an absent string is written as an empty one.
int prependCString(const std::optional<std::string>& text, PacketBuffer& buffer) {
    if (buffer.prependByte(0) != 0) {
        return -1;
    }
    if (!text || text->empty()) {
        return 0;
    }
    if (text->size() > static_cast<std::size_t>(kDatagramCapacity)) {
        return -1;
    }
    return buffer.prependBytes(text->data(), static_cast<int>(text->size()));
}

int readString(std::optional<std::string>* field, PacketBuffer& buffer) {
    const int n = buffer.find(0);
    if (n < 0) {
        return -1;
    }
    field->emplace(reinterpret_cast<const char*>(buffer.data()), static_cast<std::size_t>(n));
    return buffer.skip(n + 1);
}

int readExpectedTag(std::uint8_t expected, PacketBuffer& buffer) {
    std::uint8_t tag;
    if (readTag(&tag, buffer) != 0 || tag != expected) {
        return -1;
    }
    return 0;
}

int readTaggedInteger(std::int32_t* value, PacketBuffer& buffer) {
    if (readExpectedTag(ber::kInteger, buffer) != 0) {
        return -1;
    }
    return readInteger(value, buffer);
}

int encodeValue(const Varbind& varbind, PacketBuffer& buffer) {
    const std::uint8_t type = varbind.type;
    if (value::isIntegerType(type)) {
        return writeInteger(type, varbind.integer, buffer);
    }
    switch (type) {
    case value::kOctetString:
        if (varbind.octets.size() > static_cast<std::size_t>(kDatagramCapacity)) {
            return -1;
        }
        return writeOctets(type, varbind.octets.data(), static_cast<int>(varbind.octets.size()),
                           buffer);
    case value::kNull:
        return writeLengthAndTag(type, 0, buffer);
    case value::kObjectId:
        return writeOid(varbind.oid, buffer);
    case value::kIpAddress:
        return writeOctets(type, varbind.ipv4.data(), 4, buffer);
    default:
        return -1;
    }
}

} // namespace

bool ApplianceMac::isAny() const {
    for (std::uint8_t b : bytes) {
        if (b != 0xFF) {
            return false;
        }
    }
    return true;
}

bool ApplianceMac::isZero() const {
    for (std::uint8_t b : bytes) {
        if (b != 0) {
            return false;
        }
    }
    return true;
}

bool pdu::isAcceptedType(std::uint8_t type) {
    return (type >= 0xA0 && type <= 0xA3) || (type >= 0xF0 && type <= 0xF2);
}

bool value::isIntegerType(std::uint8_t type) {
    switch (type) {
    case kBoolean:
    case kInteger:
    case kEnumerated:
    case kCounter:
    case kGauge:
    case kTimeTicks:
    case kUInteger:
        return true;
    default:
        return false;
    }
}

bool value::isSupportedType(std::uint8_t type) {
    return isIntegerType(type) || type == kOctetString || type == kNull || type == kObjectId ||
           type == kIpAddress;
}

Oid attributeOid(std::uint16_t group, std::uint16_t id) {
    Oid oid;
    std::memcpy(oid.arcs, kAttributePrefix, sizeof kAttributePrefix);
    oid.arcs[9] = group;
    oid.arcs[10] = id;
    oid.arcs[11] = 0;
    oid.count = kAttributeOidArcs;
    return oid;
}

bool attributeFromOid(const Oid& oid, std::uint16_t* group, std::uint16_t* id) {
    if (oid.count != kAttributeOidArcs ||
        std::memcmp(oid.arcs, kAttributePrefix, sizeof kAttributePrefix) != 0 ||
        oid.arcs[9] > 0xFFFF || oid.arcs[10] > 0xFFFF || oid.arcs[11] != 0) {
        return false;
    }
    *group = static_cast<std::uint16_t>(oid.arcs[9]);
    *id = static_cast<std::uint16_t>(oid.arcs[10]);
    return true;
}

// ---- field setters ----

void Message::setWordA(const std::array<std::uint8_t, 4>& word) {
    words_[0] = word;
    flags_ |= flags::kWordA;
}
void Message::setWordB(const std::array<std::uint8_t, 4>& word) {
    words_[1] = word;
    flags_ |= flags::kWordB;
}
void Message::setWordC(const std::array<std::uint8_t, 4>& word) {
    words_[2] = word;
    flags_ |= flags::kWordC;
}
void Message::setNumberD(std::uint32_t number) {
    numberD_ = number;
    flags_ |= flags::kNumberD;
}

void Message::setString(std::optional<std::string>* field, std::uint32_t flag, const char* value) {
    if (value == nullptr) {
        field->reset();
        flags_ &= ~flag;
        return;
    }
    field->emplace(value);
    flags_ |= flag;
}

void Message::setHostKey(const std::uint8_t key[16]) {
    std::memcpy(hostKey_.data(), key, hostKey_.size());
    hasHostKey_ = true;
    flags_ |= flags::kHostKey;
}

void Message::setBlock128(const std::uint8_t block[128]) {
    std::memcpy(block128_.data(), block, block128_.size());
    hasBlock128_ = true;
    flags_ |= flags::kBlock128;
}

void Message::setTimeStamp(std::uint32_t secondsSince1970) {
    timeStamp_ = secondsSince1970;
    hasTimeStamp_ = true;
    flags_ |= flags::kTimeStamp;
}

PduHeader& Message::ensurePduHeader() {
    if (!pdu_) {
        pdu_ = std::make_unique<PduHeader>();
    }
    return *pdu_;
}

void Message::setCommunity(const char* first, const char* second) {
    std::string community = first != nullptr ? first : "";
    community += ':';
    community += second != nullptr ? second : "";
    ensurePduHeader().community = std::move(community);
}

int Message::errorStatus() const {
    return pdu_ ? pdu_->errorStatus : kRawMalformed;
}

// ---- varbinds ----

int Message::addVarbind(Varbind varbind) {
    if (!value::isSupportedType(varbind.type) || varbind.name.count < 2 ||
        varbind.name.count > kMaxOidArcs) {
        return kRawMalformed;
    }
    try {
        varbinds_.push_back(std::move(varbind));
    } catch (const std::bad_alloc&) {
        return kRawNoMemory;
    }
    flags_ |= flags::kPdu;
    return kRawOk;
}

int Message::addVarbind(std::uint16_t group, std::uint16_t id, std::uint8_t type, const void* value,
                        int length) {
    Varbind varbind;
    varbind.name = attributeOid(group, id);
    varbind.type = type;
    if (value::isIntegerType(type)) {
        if (value == nullptr) {
            return kRawMalformed;
        }
        std::memcpy(&varbind.integer, value, 4);
    } else if (type == value::kIpAddress) {
        if (value == nullptr) {
            return kRawMalformed;
        }
        std::memcpy(varbind.ipv4.data(), value, 4);
    } else if (type == value::kOctetString) {
        const char* bytes = static_cast<const char*>(value);
        const std::size_t n = length >= 0        ? static_cast<std::size_t>(length)
                              : bytes != nullptr ? std::strlen(bytes)
                                                 : 0;
        if (n > 0 && bytes == nullptr) {
            return kRawMalformed;
        }
        try {
            varbind.octets.assign(bytes, bytes + n);
        } catch (const std::bad_alloc&) {
            return kRawNoMemory;
        }
    } else if (type == value::kObjectId) {
        if (value == nullptr) {
            return kRawMalformed;
        }
        varbind.oid = *static_cast<const Oid*>(value);
    } else if (type != value::kNull) {
        return kRawMalformed;
    }
    return addVarbind(std::move(varbind));
}

int Message::addIntegerVarbind(std::uint16_t group, std::uint16_t id, std::uint8_t type,
                               std::int32_t value) {
    if (!value::isIntegerType(type)) {
        return kRawMalformed;
    }
    return addVarbind(group, id, type, &value, 4);
}

int Message::addOctetsVarbind(std::uint16_t group, std::uint16_t id, const void* bytes,
                              int length) {
    return addVarbind(group, id, value::kOctetString, bytes, length < 0 ? 0 : length);
}

int Message::addNullVarbind(std::uint16_t group, std::uint16_t id) {
    return addVarbind(group, id, value::kNull, nullptr, 0);
}

int Message::takeFirstValue(std::uint8_t expectedType, void* destination, int* length) {
    if (varbinds_.empty()) {
        return kRawMalformed;
    }
    Varbind first = std::move(varbinds_.front());
    varbinds_.erase(varbinds_.begin());
    if (expectedType != 0 && expectedType != first.type) {
        return kRawMalformed;
    }
    if (value::isIntegerType(first.type)) {
        std::memcpy(destination, &first.integer, 4);
    } else if (first.type == value::kIpAddress) {
        std::memcpy(destination, first.ipv4.data(), 4);
    } else if (first.type == value::kOctetString) {
        const int size = static_cast<int>(first.octets.size());
        if (length != nullptr) {
            const int n = *length < size ? (*length < 0 ? 0 : *length) : size;
            if (n > 0) {
                std::memcpy(destination, first.octets.data(), static_cast<std::size_t>(n));
            }
            *length = n;
        } else {
            if (size > 0) {
                std::memcpy(destination, first.octets.data(), static_cast<std::size_t>(size));
            }
            static_cast<std::uint8_t*>(destination)[size] = 0;
        }
    } else if (first.type == value::kObjectId) {
        if (length == nullptr || *length < first.oid.count) {
            return kRawHeaderEncoding;
        }
        std::memcpy(destination, first.oid.arcs,
                    sizeof(first.oid.arcs[0]) * static_cast<std::size_t>(first.oid.count));
        *length = first.oid.count;
    }
    return kRawOk;
}

// ---- building ----

int Message::build(std::unique_ptr<PacketBuffer>* out) {
    std::unique_ptr<PacketBuffer> buffer = PacketBuffer::create(kDatagramCapacity);
    if (!buffer || buffer->capacity() != kDatagramCapacity) {
        return kRawNoMemory;
    }
    buffer->setCursor(kDatagramCapacity);
    const int rc = encode(*buffer);
    if (rc == kRawOk) {
        *out = std::move(buffer);
    }
    return rc;
}

int Message::encode(PacketBuffer& buffer) {
    const bool withPdu = !varbinds_.empty() || (pdu_ && (flags_ & flags::kPdu));
    if (withPdu) {
        if (!pdu_) {
            return kRawMalformed;
        }
        for (const Varbind& varbind : varbinds_) {
            if (!value::isSupportedType(varbind.type)) {
                return kRawMalformed;
            }
        }
        if (encodePdu(buffer) != 0) {
            return kRawHeaderEncoding;
        }
    }
    const std::uint32_t flagWord = withPdu ? (flags_ | flags::kPdu) : (flags_ & ~flags::kPdu);
    if (encodeFields(buffer, flagWord) != 0) {
        return kRawMalformed;
    }
    flags_ = flagWord;
    return kRawOk;
}

int Message::encodePdu(PacketBuffer& buffer) const {
    const int end = buffer.getCursor();
    for (auto it = varbinds_.rbegin(); it != varbinds_.rend(); ++it) {
        const int varbindEnd = buffer.getCursor();
        if (encodeValue(*it, buffer) != 0 || writeOid(it->name, buffer) != 0 ||
            writeLengthAndTag(ber::kSequence, varbindEnd - buffer.getCursor(), buffer) != 0) {
            return -1;
        }
    }
    if (writeLengthAndTag(ber::kSequence, end - buffer.getCursor(), buffer) != 0 ||
        writeInteger(ber::kInteger, pdu_->errorIndex, buffer) != 0 ||
        writeInteger(ber::kInteger, pdu_->errorStatus, buffer) != 0 ||
        writeInteger(ber::kInteger, pdu_->requestId, buffer) != 0 ||
        writeLengthAndTag(pdu_->type, end - buffer.getCursor(), buffer) != 0) {
        return -1;
    }
    if (pdu_->community.size() > static_cast<std::size_t>(kDatagramCapacity) ||
        writeOctets(ber::kOctetString, pdu_->community.data(),
                    static_cast<int>(pdu_->community.size()), buffer) != 0 ||
        writeInteger(ber::kInteger, 0, buffer) != 0 ||
        writeLengthAndTag(ber::kSequence, end - buffer.getCursor(), buffer) != 0) {
        return -1;
    }
    return 0;
}

int Message::encodeFields(PacketBuffer& buffer, std::uint32_t flagWord) const {
    const bool request = isRequest();
    if (flagWord & flags::kTimeStamp) {
        const std::uint32_t now =
            hasTimeStamp_ ? timeStamp_ : static_cast<std::uint32_t>(std::time(nullptr));
        if (prependWord(now, buffer) != 0) {
            return -1;
        }
    }
    if ((flagWord & flags::kBlock128) &&
        buffer.prependBytes(block128_.data(), static_cast<int>(block128_.size())) != 0) {
        return -1;
    }
    // A request carries its host key whenever the flag says so; a reply or notification after
    // its text, which is where the host reads it.
    const bool hostKey = request ? (flagWord & flags::kHostKey) : (flagWord & flags::kText);
    if (hostKey && buffer.prependBytes(hostKey_.data(), static_cast<int>(hostKey_.size())) != 0) {
        return -1;
    }
    if ((flagWord & flags::kText) && prependCString(text_, buffer) != 0) {
        return -1;
    }
    const bool rows = !request || (flagWord & flags::kAction);
    if (rows) {
        if (!request) {
            if ((flagWord & flags::kString5) && prependCString(string5_, buffer) != 0) {
                return -1;
            }
            if ((flagWord & flags::kFirmware) && prependCString(firmware_, buffer) != 0) {
                return -1;
            }
            if ((flagWord & flags::kProductName) && prependCString(productName_, buffer) != 0) {
                return -1;
            }
        }
        if ((flagWord & flags::kDeviceName) && prependCString(deviceName_, buffer) != 0) {
            return -1;
        }
        if (!request && (flagWord & flags::kString1) && prependCString(string1_, buffer) != 0) {
            return -1;
        }
        if ((flagWord & flags::kNumberD) && prependWord(numberD_, buffer) != 0) {
            return -1;
        }
        if ((flagWord & flags::kWordC) && buffer.prependBytes(words_[2].data(), 4) != 0) {
            return -1;
        }
        if ((flagWord & flags::kWordB) && buffer.prependBytes(words_[1].data(), 4) != 0) {
            return -1;
        }
        if ((flagWord & flags::kWordA) && buffer.prependBytes(words_[0].data(), 4) != 0) {
            return -1;
        }
    }
    const std::uint8_t* tag = request                        ? kTagRequest
                              : kind_ == MessageKind::kReply ? kTagReply
                                                             : kTagNotification;
    if (buffer.prependBytes(mac_.bytes.data(), 6) != 0 || prependWord(flagWord, buffer) != 0 ||
        buffer.prependBytes(tag, 4) != 0) {
        return -1;
    }
    return 0;
}

// ---- parsing ----

int Message::parse(const std::uint8_t* bytes, int length, std::uint32_t source,
                   std::unique_ptr<Message>* out) {
    if (length < 0 || (length > 0 && bytes == nullptr)) {
        return kRawMalformed;
    }
    std::unique_ptr<PacketBuffer> buffer = PacketBuffer::create(length);
    if (!buffer || buffer->capacity() != length) {
        return kRawNoMemory;
    }
    if (length > 0) {
        std::memcpy(buffer->start(), bytes, static_cast<std::size_t>(length));
    }
    return parse(*buffer, source, out);
}

int Message::parse(PacketBuffer& datagram, std::uint32_t source, std::unique_ptr<Message>* out) {
    try {
        if (datagram.remaining() < static_cast<unsigned>(kFixedHeaderSize)) {
            return kRawMalformed;
        }
        auto message = std::make_unique<Message>();
        std::uint8_t tag[4];
        datagram.readBytes(tag, 4);
        if (std::memcmp(tag, kTagRequest, 4) == 0) {
            message->kind_ = MessageKind::kRequest;
        } else if (std::memcmp(tag, kTagReply, 4) == 0) {
            message->kind_ = MessageKind::kReply;
        } else if (std::memcmp(tag, kTagNotification, 4) == 0) {
            message->kind_ = MessageKind::kNotification;
        } else {
            return kRawMalformed;
        }
        readWord(&message->flags_, datagram);
        datagram.readBytes(message->mac_.bytes.data(), 6);
        if (!message->isRequest() &&
            ((message->flags_ & flags::kAction) || message->mac_.isAny())) {
            return kRawMalformed;
        }
        if (message->mac_.isZero()) {
            return kRawMalformed;
        }
        if (message->parseFields(datagram) != 0) {
            return kRawMalformed;
        }
        if ((message->flags_ & flags::kPdu) && message->parsePdu(datagram) != 0) {
            return kRawMalformed;
        }
        message->source_ = source;
        *out = std::move(message);
        return kRawOk;
    } catch (const std::bad_alloc&) {
        return kRawNoMemory;
    }
}

int Message::parseFields(PacketBuffer& buffer) {
    const std::uint32_t f = flags_;
    const bool request = isRequest();
    if (!request || (f & flags::kAction)) {
        for (int i = 0; i < 3; ++i) {
            if ((f & (flags::kWordA << i)) && buffer.readBytes(words_[i].data(), 4) != 0) {
                return -1;
            }
        }
        if ((f & flags::kNumberD) && readWord(&numberD_, buffer) != 0) {
            return -1;
        }
        if (!request && (f & flags::kString1) && readString(&string1_, buffer) != 0) {
            return -1;
        }
        if ((f & flags::kDeviceName) && readString(&deviceName_, buffer) != 0) {
            return -1;
        }
        if (!request) {
            if ((f & flags::kProductName) && readString(&productName_, buffer) != 0) {
                return -1;
            }
            if ((f & flags::kFirmware) && readString(&firmware_, buffer) != 0) {
                return -1;
            }
            if ((f & flags::kString5) && readString(&string5_, buffer) != 0) {
                return -1;
            }
        }
    }
    if ((f & flags::kText) && readString(&text_, buffer) != 0) {
        return -1;
    }
    const bool hostKey = request ? (f & flags::kHostKey) : (f & flags::kText);
    if (hostKey) {
        if (buffer.readBytes(hostKey_.data(), static_cast<int>(hostKey_.size())) != 0) {
            return -1;
        }
        hasHostKey_ = true;
    }
    if (f & flags::kBlock128) {
        if (buffer.readBytes(block128_.data(), static_cast<int>(block128_.size())) != 0) {
            return -1;
        }
        hasBlock128_ = true;
    }
    if (f & flags::kTimeStamp) {
        if (readWord(&timeStamp_, buffer) != 0) {
            return -1;
        }
        hasTimeStamp_ = true;
    }
    return 0;
}

int Message::parsePdu(PacketBuffer& buffer) {
    std::uint8_t tag;
    int length;
    if (readTagAndLength(&tag, &length, buffer) != 0 || tag != ber::kSequence ||
        static_cast<unsigned>(length) != buffer.remaining()) {
        return -1;
    }
    std::int32_t version;
    if (readTaggedInteger(&version, buffer) != 0 || version != 0) {
        return -1;
    }
    auto header = std::make_unique<PduHeader>();
    std::unique_ptr<char[]> community;
    int communityLength;
    if (readExpectedTag(ber::kOctetString, buffer) != 0 ||
        readOctetString(&community, &communityLength, buffer) != 0) {
        return -1;
    }
    header->community.assign(community.get(), static_cast<std::size_t>(communityLength));
    if (readTagAndLength(&header->type, &length, buffer) != 0 ||
        !pdu::isAcceptedType(header->type) || static_cast<unsigned>(length) != buffer.remaining()) {
        return -1;
    }
    if (readTaggedInteger(&header->requestId, buffer) != 0 ||
        readTaggedInteger(&header->errorStatus, buffer) != 0 ||
        readTaggedInteger(&header->errorIndex, buffer) != 0) {
        return -1;
    }
    if (readTagAndLength(&tag, &length, buffer) != 0 || tag != ber::kSequence ||
        static_cast<unsigned>(length) != buffer.remaining()) {
        return -1;
    }
    pdu_ = std::move(header);
    while (buffer.remaining() > 0) {
        if (parseVarbind(buffer) != 0) {
            return -1;
        }
    }
    return 0;
}

int Message::parseVarbind(PacketBuffer& buffer) {
    std::uint8_t tag;
    int length;
    if (readTagAndLength(&tag, &length, buffer) != 0 || tag != ber::kSequence) {
        return -1;
    }
    const int end = buffer.getCursor() + length;
    Varbind varbind;
    if (readExpectedTag(ber::kObjectId, buffer) != 0 ||
        readOid(&varbind.name, kMaxOidArcs, buffer) != 0 || readTag(&varbind.type, buffer) != 0) {
        return -1;
    }
    if (value::isIntegerType(varbind.type)) {
        if (readInteger(&varbind.integer, buffer) != 0) {
            return -1;
        }
    } else if (varbind.type == value::kOctetString) {
        if (readLength(&length, buffer) != 0) {
            return -1;
        }
        varbind.octets.assign(buffer.data(), buffer.data() + length);
        buffer.skip(length);
    } else if (varbind.type == value::kNull) {
        if (readLength(&length, buffer) != 0 || length != 0) {
            return -1;
        }
    } else if (varbind.type == value::kObjectId) {
        if (readOid(&varbind.oid, kMaxOidArcs, buffer) != 0) {
            return -1;
        }
    } else if (varbind.type == value::kIpAddress) {
        if (readLength(&length, buffer) != 0 || length != 4 ||
            buffer.readBytes(varbind.ipv4.data(), 4) != 0) {
            return -1;
        }
    } else {
        return -1;
    }
    // The name and value must fill the binding exactly.
    if (buffer.getCursor() != end) {
        return -1;
    }
    varbinds_.push_back(std::move(varbind));
    return 0;
}

} // namespace velmora::protocol
