// Random and mutated streams never crash a legacy decoder, never make it put
// more than declared, and always end with a known result. Run under
// AddressSanitizer and UndefinedBehaviorSanitizer, this also catches reads
// and writes outside the tables.

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "archive/codec/legacy_decoder.h"
#include "legacy_fixture_streams.h"
#include "legacy_streams.h"

namespace {

bool KnownResult(const LegacyResult& result) {
    switch (result.fault) {
        case LegacyFault::None: return !result.raised;
        case LegacyFault::BadBlock:
        case LegacyFault::StackOverflow: return result.raised;
        case LegacyFault::AmbiguousTree: return true;
        default: return false;
    }
}

std::string Mutate(std::string data, std::mt19937& random) {
    const auto pick = [&](size_t n) { return static_cast<size_t>(random() % n); };
    switch (random() % 4) {
        case 0:  // a few bytes changed
            for (int i = 0, n = 1 + static_cast<int>(random() % 8); i < n && !data.empty(); ++i)
                data[pick(data.size())] = static_cast<char>(random());
            break;
        case 1:  // cut short
            data.resize(pick(data.size() + 1));
            break;
        case 2:  // a run of random bytes put in
            data.insert(pick(data.size() + 1), std::string(1 + pick(64), static_cast<char>(random())));
            break;
        default:  // single bits flipped, early where the tables are
            for (int i = 0; i < 4 && !data.empty(); ++i)
                data[pick(std::min<size_t>(data.size(), 300))] ^= static_cast<char>(1 << (random() % 8));
            break;
    }
    return data;
}

void ExpectSound(uint32_t method, uint16_t flags, const std::string& packed, uint64_t declared) {
    std::vector<uint8_t> out;
    const LegacyResult result = DecodeLegacyBuffer(
        method, flags, reinterpret_cast<const uint8_t*>(packed.data()), packed.size(), declared, out);
    ASSERT_LE(out.size(), declared);
    ASSERT_TRUE(KnownResult(result)) << static_cast<int>(result.fault);
}

TEST(LegacyFuzz, MutatedStreams) {
    const legacy_test::FixtureStreams fixture = legacy_test::ManyFormatsStreams();
    std::vector<legacy_test::FixtureStream> seeds = fixture.streams;
    const std::string sample = fixture.plain.substr(0, 12000);
    for (uint16_t flags : {0, 2, 4, 6}) seeds.push_back({6, flags, legacy_test::Implode(sample, flags)});
    std::mt19937 random(20261210);
    for (const auto& seed : seeds) {
        SCOPED_TRACE(std::to_string(seed.method) + "/" + std::to_string(seed.flags));
        for (int round = 0; round < 150; ++round) {
            const std::string packed = Mutate(seed.packed, random);
            ExpectSound(static_cast<uint32_t>(seed.method), seed.flags, packed, 100000);
            if (HasFatalFailure()) return;
        }
    }
}

TEST(LegacyFuzz, RandomStreams) {
    std::mt19937 random(1789);
    for (uint32_t method = 1; method <= 6; ++method) {
        for (int round = 0; round < 200; ++round) {
            std::string packed(random() % 2048, '\0');
            for (char& c : packed) c = static_cast<char>(random());
            const auto flags = static_cast<uint16_t>(random() & 6);
            SCOPED_TRACE(std::to_string(method) + " round " + std::to_string(round));
            ExpectSound(method, flags, packed, random() % 300000);
            if (HasFatalFailure()) return;
        }
    }
}

}  // namespace
