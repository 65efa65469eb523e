// SPDX-License-Identifier: MIT
#include "model/rp1.h"

namespace tavrel_sim {

namespace {

constexpr uint32_t kBlockBytes = 0x10000;  // IO_BANK0..2, SYS_RIO0..2, PADS_BANK0..2
constexpr uint32_t kBankBytes = 0x4000;
constexpr uint32_t kAliasBytes = 0x1000;
enum Block : unsigned { kIo, kRio, kPads };
const char* const kAliasSuffix[] = {"", ".XOR", ".SET", ".CLR"};

// The word's kind within its bank's register set, from its offset there.
Rp1Register::Kind kind_in_bank(unsigned block, uint32_t word, const Rp1Bank& pins, uint8_t* pin)
{
    switch (block) {
    case kIo:
        // The bank's interrupt registers follow its GPIOs': not modelled.
        if (word >= pins.count * 8) return Rp1Register::kNone;
        *pin = static_cast<uint8_t>(pins.first + word / 8);
        return word % 8 ? Rp1Register::kCtrl : Rp1Register::kStatus;
    case kRio:
        if (word == 0) return Rp1Register::kRioOut;
        if (word == 4) return Rp1Register::kRioOe;
        if (word == 8) return Rp1Register::kRioSyncIn;
        return Rp1Register::kNone;
    default:
        // Word 0 is the bank's own (its voltage select): not modelled.
        if (word == 0 || (word - 4) / 4 >= pins.count) return Rp1Register::kNone;
        *pin = static_cast<uint8_t>(pins.first + (word - 4) / 4);
        return Rp1Register::kPad;
    }
}

// Appends text to out[0..n), keeping it terminated; counts what it would take.
struct Writer {
    char* out;
    size_t n, length;
    void put(const char* text)
    {
        for (; *text; ++text, ++length)
            if (length + 1 < n) out[length] = *text;
        if (n) out[length < n ? length : n - 1] = '\0';
    }
    void put(unsigned number)
    {
        char digits[12];
        unsigned i = sizeof digits - 1;
        digits[i] = '\0';
        do digits[--i] = static_cast<char>('0' + number % 10);
        while (number /= 10);
        put(digits + i);
    }
};

}  // namespace

Rp1Register rp1_register(uint32_t offset)
{
    Rp1Register none{Rp1Register::kNone, Rp1Alias::kNormal, 0, 0};
    if (offset >= kRp1WindowBytes || offset % 4) return none;
    unsigned block = offset / kBlockBytes;
    uint32_t in_block = offset % kBlockBytes;
    unsigned bank = in_block / kBankBytes;
    if (bank >= kRp1Banks) return none;
    uint32_t in_bank = in_block % kBankBytes;
    Rp1Register reg{Rp1Register::kNone, rp1_alias_at(offset), static_cast<uint8_t>(bank), 0};
    reg.kind = kind_in_bank(block, in_bank % kAliasBytes, kRp1BankPins[bank], &reg.pin);
    return reg.kind == Rp1Register::kNone ? none : reg;
}

size_t rp1_register_name(const Rp1Register& reg, char* out, size_t n)
{
    Writer w{out, n, 0};
    w.put("");
    switch (reg.kind) {
    case Rp1Register::kNone: return w.length;
    case Rp1Register::kStatus:
    case Rp1Register::kCtrl:
    case Rp1Register::kPad:
        w.put("GPIO");
        w.put(reg.pin);
        w.put(reg.kind == Rp1Register::kStatus ? "_STATUS"
              : reg.kind == Rp1Register::kCtrl ? "_CTRL"
                                               : "_PAD");
        break;
    default:
        w.put("SYS_RIO");
        w.put(static_cast<unsigned>(reg.bank));
        w.put(reg.kind == Rp1Register::kRioOut  ? "_OUT"
              : reg.kind == Rp1Register::kRioOe ? "_OE"
                                                : "_SYNC_IN");
        break;
    }
    w.put(kAliasSuffix[static_cast<unsigned>(reg.alias)]);
    return w.length;
}

size_t rp1_word_name(uint32_t offset, char* out, size_t n)
{
    Rp1Register reg = rp1_register(offset);
    if (reg.kind != Rp1Register::kNone) return rp1_register_name(reg, out, n);
    static const char kDigits[] = "0123456789abcdef";
    char hex[8] = "0x";
    for (unsigned i = 0, plain = rp1_plain_offset(offset); i < 5; ++i)
        hex[2 + i] = kDigits[plain >> (4 * (4 - i)) & 15];
    Writer w{out, n, 0};
    w.put(hex);
    w.put(kAliasSuffix[static_cast<unsigned>(rp1_alias_at(offset))]);
    return w.length;
}

unsigned rp1_bank_of(unsigned pin)
{
    unsigned bank = 0;
    while (bank + 1 < kRp1Banks && pin >= kRp1BankPins[bank + 1].first) ++bank;
    return bank;
}

unsigned rp1_ctrl_word(unsigned pin)
{
    unsigned bank = rp1_bank_of(pin);
    return (bank * kBankBytes + (pin - kRp1BankPins[bank].first) * 8 + 4) / 4;
}

unsigned rp1_pad_word(unsigned pin)
{
    unsigned bank = rp1_bank_of(pin);
    return (kPads * kBlockBytes + bank * kBankBytes + 4 + (pin - kRp1BankPins[bank].first) * 4) / 4;
}

unsigned rp1_rio_word(unsigned bank, Rp1Register::Kind kind)
{
    unsigned reg = kind == Rp1Register::kRioOut ? 0 : kind == Rp1Register::kRioOe ? 1 : 2;
    return (kRio * kBlockBytes + bank * kBankBytes) / 4 + reg;
}

}  // namespace tavrel_sim
