#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

// Kinds of archive the family recognises. The numeric value is the position.
enum TArcType : uint8_t {
    atNA, atUnsupported, atFileOpenErr, atUnknown,
    atAce, atAceExe, atArc, atArcExe, atArj, atArjExe, atBh, atBhExe,
    atCab, atCabExe, atGZip, atHA, atJar, atJarExe, atLha, atLhaExe,
    atLzh, atLzhExe, atMsGZ, atPak, atPakExe, atRar, atRarExe, atTar,
    atTarGZip, atUUE, atZip, atZipExe, atZipDS, atZipMV, atZoo,
};
inline constexpr int kArcTypeCount = atZoo + 1;

// The fixed display name of a type: ten characters, space-padded ("Not avail. "
// has eleven, and the name of atMsGZ ends in a tab).
std::string_view ArcTypeName(TArcType type);

// False for the not-recognised group: atNA, atUnsupported, atFileOpenErr, atUnknown.
constexpr bool IsRecognised(TArcType type) { return type > atUnknown; }

// The types that use the traditional ZIP cipher.
constexpr bool IsZipFamily(TArcType type) {
    return type == atBh || type == atBhExe || type == atJar || type == atJarExe ||
           (type >= atZip && type <= atZipMV);
}

enum TOverwriteMode : uint8_t { omOverwrite, omSkip };
enum TDateAttribute : uint8_t { daFileDate, daSysDate, daMaxFileDate };
enum TCpuType : uint8_t { cptAuto, cpt80286, cpt80386, cpt80486 };

// The ZIP records detection can find.
enum THeaderType : uint8_t { htLocal, htCentral, htEnding, htLocator, htEnding64, htNone };

// A set of THeaderType held in one byte, bit n standing for the n-th value.
class THeaderTypeState {
public:
    constexpr THeaderTypeState() = default;
    constexpr THeaderTypeState(std::initializer_list<THeaderType> members) {
        for (THeaderType m : members) Include(m);
    }
    static constexpr THeaderTypeState FromBits(uint8_t bits) {
        THeaderTypeState s;
        s.bits_ = bits;
        return s;
    }

    constexpr uint8_t Bits() const { return bits_; }
    constexpr bool Contains(THeaderType member) const { return (bits_ >> member) & 1u; }
    constexpr bool Empty() const { return bits_ == 0; }
    constexpr void Include(THeaderType member) { bits_ = static_cast<uint8_t>(bits_ | (1u << member)); }
    constexpr void Exclude(THeaderType member) { bits_ = static_cast<uint8_t>(bits_ & ~(1u << member)); }
    constexpr void Clear() { bits_ = 0; }

    friend constexpr bool operator==(THeaderTypeState, THeaderTypeState) = default;

private:
    uint8_t bits_ = 0;
};
static_assert(sizeof(THeaderTypeState) == 1);

// Lines of text, as the FileSpec and Passwords properties hold them.
using TStringList = std::vector<std::string>;
