// The script's variables: named 32-bit integers in one table, ordered by a
// hash of the name and, for equal hashes, by creation. The order is the one
// the debug window lists and a save writes.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

namespace TextScript {

struct VariableEntry {
    std::int32_t type = 0; // 0: integer, the only type the language makes
    std::int32_t key = 0;
    std::u16string name;   // upper case
    std::int32_t value = 0;
};

class VariableTable {
public:
    // The hash over the UTF-16 little-endian bytes of the upper-case name, up
    // to the first zero byte: h = rotl(h, 1) + byte * 0x12345678.
    static std::uint32_t KeyOf(std::u16string_view upperName);
    static std::u16string UpperCase(std::u16string_view name);

    VariableEntry* Find(std::int32_t type, std::u16string_view name);
    VariableEntry& SetOrCreate(std::u16string_view name, std::int32_t value);
    // A number when the text begins with a digit (digits only, 32-bit
    // wrap-around); otherwise the variable's value, or `fallback`.
    std::int32_t Value(std::u16string_view text, std::int32_t fallback);
    // Creates the variable with 0 unless the name begins with a digit or exists.
    void Ensure(std::u16string_view name);
    void Clear() { m_entries.clear(); }
    std::size_t Size() const { return m_entries.size(); }

    // Entries in table order.
    template <class F>
    void ForEach(F&& visit)
    {
        for (auto& [key, entry] : m_entries)
            visit(entry);
    }

private:
    std::multimap<std::uint32_t, VariableEntry> m_entries;
};

// A number written in the script: its decimal digits, with 32-bit wrap-around.
std::int32_t ParseDecimal(std::u16string_view digits);
bool StartsWithDigit(std::u16string_view text);

// The live table and the copy taken at every page boundary (what a save stores).
VariableTable& Variables();
VariableTable& PageSnapshot();
// Makes the page snapshot a copy of the live table.
void Snapshot();

} // namespace TextScript
