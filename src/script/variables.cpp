#include "script/variables.h"

#include <bit>

namespace TextScript {

std::u16string VariableTable::UpperCase(std::u16string_view name)
{
    std::u16string upper(name);
    for (char16_t& c : upper) {
        if (c >= u'a' && c <= u'z')
            c = static_cast<char16_t>(c - u'a' + u'A');
    }
    return upper;
}

std::uint32_t VariableTable::KeyOf(std::u16string_view upperName)
{
    std::uint32_t h = 0;
    for (char16_t unit : upperName) {
        for (const std::uint32_t byte : {std::uint32_t{unit} & 0xFFu, std::uint32_t{unit} >> 8u}) {
            if (byte == 0)
                return h;
            h = std::rotl(h, 1) + byte * 0x12345678u;
        }
    }
    return h;
}

VariableEntry* VariableTable::Find(std::int32_t type, std::u16string_view name)
{
    const std::u16string upper = UpperCase(name);
    const auto [first, last] = m_entries.equal_range(KeyOf(upper));
    for (auto it = first; it != last; ++it) {
        if (it->second.type == type && it->second.name == upper)
            return &it->second;
    }
    return nullptr;
}

VariableEntry& VariableTable::SetOrCreate(std::u16string_view name, std::int32_t value)
{
    if (VariableEntry* entry = Find(0, name)) {
        entry->value = value;
        return *entry;
    }
    VariableEntry entry;
    entry.name = UpperCase(name);
    const std::uint32_t key = KeyOf(entry.name);
    entry.key = static_cast<std::int32_t>(key);
    entry.value = value;
    // Equal keys stay in creation order: a multimap inserts after its equals.
    return m_entries.emplace(key, std::move(entry))->second;
}

std::int32_t VariableTable::Value(std::u16string_view text, std::int32_t fallback)
{
    if (StartsWithDigit(text))
        return ParseDecimal(text);
    const VariableEntry* entry = Find(0, text);
    return entry ? entry->value : fallback;
}

void VariableTable::Ensure(std::u16string_view name)
{
    if (!StartsWithDigit(name) && !Find(0, name))
        SetOrCreate(name, 0);
}

bool StartsWithDigit(std::u16string_view text)
{
    return !text.empty() && text[0] >= u'0' && text[0] <= u'9';
}

std::int32_t ParseDecimal(std::u16string_view digits)
{
    std::uint32_t value = 0;
    for (char16_t c : digits) {
        if (c < u'0' || c > u'9')
            break;
        value = value * 10u + static_cast<std::uint32_t>(c - u'0');
    }
    return static_cast<std::int32_t>(value);
}

VariableTable& Variables()
{
    static VariableTable table;
    return table;
}

VariableTable& PageSnapshot()
{
    static VariableTable table;
    return table;
}

void Snapshot()
{
    PageSnapshot() = Variables();
}

} // namespace TextScript
