#include "flashmemory.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

constexpr std::uint32_t polynomial = 0x04C11DB7u;
constexpr std::uint8_t markerData[4] = {0x12, 0x34, 0xAB, 0xCD};

// Byte-wise: what eight single-bit steps do to the register's top byte.
std::array<std::uint32_t, 256> makeTable()
{
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t n = 0; n < 256; ++n) {
        std::uint32_t r = n << 24;
        for (int k = 0; k < 8; ++k)
            r = (r & 0x80000000u) ? (r << 1) ^ polynomial : r << 1;
        table[n] = r;
    }
    return table;
}

int nibble(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool field(const std::string &text, std::size_t at, std::uint32_t &value)
{
    std::uint32_t v = 0;
    for (std::size_t i = at; i < at + 8; ++i) {
        const int d = nibble(text[i]);
        if (d < 0)
            return false;
        v = v << 4 | static_cast<std::uint32_t>(d);
    }
    value = v;
    return true;
}

} // namespace

FlashMemory::FlashMemory() : m_cells(size, 0xFF) {}

std::uint32_t FlashMemory::check(const std::uint8_t *data, std::size_t length)
{
    static const std::array<std::uint32_t, 256> table = makeTable();
    std::uint32_t r = 0;
    for (std::size_t i = 0; i < length; ++i)
        r = (r << 8 | data[i]) ^ table[r >> 24];
    return r;
}

bool FlashMemory::write(const std::string &value)
{
    std::uint32_t address = 0;
    std::uint32_t checkValue = 0;
    std::uint32_t length = 0;
    if (value.size() < 24 || !field(value, 0, address) || !field(value, 8, checkValue) ||
        !field(value, 16, length))
        return false;
    if (length == 0 || length > pageSize || value.size() != 24 + 2 * static_cast<std::size_t>(length))
        return false;
    std::uint8_t data[pageSize];
    for (std::uint32_t i = 0; i < length; ++i) {
        const int hi = nibble(value[24 + 2 * i]);
        const int lo = nibble(value[25 + 2 * i]);
        if (hi < 0 || lo < 0)
            return false;
        data[i] = static_cast<std::uint8_t>(hi << 4 | lo);
    }
    if (check(data, length) != checkValue)
        return false;

    if (address == markerAddress && length == sizeof markerData) {
        // A marker over nothing would declare an erased area valid.
        if (std::memcmp(data, markerData, sizeof markerData) != 0 || m_used == 0)
            return false;
        m_marked = true;
        ++m_markerWrites;
        return true;
    }
    if (address < base || (address - base) % pageSize != 0 || address - base + length > size)
        return false;
    const std::size_t offset = address - base;
    // Writing the first page starts a new image: the area is erased.
    if (offset == 0) {
        std::fill(m_cells.begin(), m_cells.end(), 0xFF);
        m_used = 0;
    }
    // Any change invalidates the image until the next marker.
    m_marked = false;
    std::memcpy(m_cells.data() + offset, data, length);
    m_used = std::max(m_used, offset + length);
    return true;
}

std::vector<std::uint8_t> FlashMemory::image() const
{
    return std::vector<std::uint8_t>(m_cells.begin(), m_cells.begin() + static_cast<std::ptrdiff_t>(m_used));
}

bool FlashMemory::dump(const std::string &path, std::string &error) const
{
    const std::string temporary = path + ".part";
    std::FILE *file = std::fopen(temporary.c_str(), "wb");
    if (!file) {
        error = temporary + ": " + std::strerror(errno);
        return false;
    }
    const std::vector<std::uint8_t> bytes = image();
    // An empty image has no data pointer to hand to fwrite.
    const bool written = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    if (std::fclose(file) != 0 || !written) {
        error = temporary + ": write failed";
        std::remove(temporary.c_str());
        return false;
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        error = path + ": " + std::strerror(errno);
        std::remove(temporary.c_str());
        return false;
    }
    return true;
}
