// Cost per message of building and parsing the two datagrams the status poll exchanges most: the
// status request and a reply carrying one attribute value. Building includes creating the Message
// and its 2048-byte buffer, as a send does; parsing starts from a received buffer, as a wait does.
#include <benchmark/benchmark.h>

#include <cstring>

#include "protocol/message.h"

using namespace velmora::protocol;

namespace {

const ApplianceMac kMac{{0x00, 0x0C, 0x29, 0x01, 0x02, 0x03}};

void fillStatusRequest(Message& m) {
    m.setMac(kMac);
    m.setFlags(flags::kDirected | flags::kDeviceName | flags::kProductName | flags::kFirmware);
}

void fillAttributeReply(Message& m) {
    m.setKind(MessageKind::kReply);
    m.setMac(kMac);
    m.setFlags(flags::kDirected);
    m.setPduType(pdu::kResponse);
    m.setCommunity("", "");
    m.setRequestId(1234);
    static const char kValue[] = "Connected to quorvane.example (198.18.0.1)";
    m.addOctetsVarbind(0xF000, 0xF011, kValue, sizeof kValue - 1);
}

template <void (*Fill)(Message&)> void buildMessage(benchmark::State& state) {
    for (auto _ : state) {
        Message m;
        Fill(m);
        std::unique_ptr<PacketBuffer> datagram;
        benchmark::DoNotOptimize(m.build(&datagram));
        benchmark::DoNotOptimize(datagram.get());
    }
    state.SetItemsProcessed(state.iterations());
}

template <void (*Fill)(Message&)> void parseMessage(benchmark::State& state) {
    Message m;
    Fill(m);
    std::unique_ptr<PacketBuffer> built;
    m.build(&built);
    const int length = static_cast<int>(built->remaining());
    auto received = PacketBuffer::create(kDatagramCapacity);
    std::memcpy(received->start(), built->data(), static_cast<std::size_t>(length));
    received->setEnd(length);
    for (auto _ : state) {
        received->setCursor(0);
        std::unique_ptr<Message> parsed;
        benchmark::DoNotOptimize(Message::parse(*received, 0, &parsed));
        benchmark::DoNotOptimize(parsed.get());
    }
    state.SetItemsProcessed(state.iterations());
    state.counters["bytes"] = length;
}

BENCHMARK(buildMessage<fillStatusRequest>)->Name("build/status_request");
BENCHMARK(parseMessage<fillStatusRequest>)->Name("parse/status_request");
BENCHMARK(buildMessage<fillAttributeReply>)->Name("build/attribute_reply");
BENCHMARK(parseMessage<fillAttributeReply>)->Name("parse/attribute_reply");

} // namespace

BENCHMARK_MAIN();
