#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The board's resident loader and the flash it writes. A line is
// "address check length data" in hexadecimal (8, 8, 8 digits, then two a
// byte); it is taken only when every field is sound and the check value
// matches the data. The image area starts at 0x80050000 and holds as many
// bytes as the application's image; the validity marker (0x8007FFFC, four
// bytes 12 34 AB CD) is kept apart from it. Flash survives a restart.
class FlashMemory
{
public:
    static constexpr std::uint32_t base = 0x80050000u;
    static constexpr std::size_t size = 200000;
    static constexpr std::size_t pageSize = 256;
    static constexpr std::uint32_t markerAddress = 0x8007FFFCu;

    FlashMemory();

    // The value of a "set flash=" word; false for "flash:err".
    bool write(const std::string &value);

    // Written since the last erase: from the start of the area to the
    // highest byte written, unwritten bytes in between erased (0xFF).
    std::vector<std::uint8_t> image() const;
    bool marked() const { return m_marked; }
    // Counts the marker writes, so that the owner can tell a new one.
    unsigned long markerWrites() const { return m_markerWrites; }

    // Writes image() to path through a temporary file, so a reader never
    // sees half an image.
    bool dump(const std::string &path, std::string &error) const;

    // The check value the loader expects: the polynomial 0x04C11DB7 fed
    // with the data bits, most significant first, register starting at 0,
    // no reflection, no final inversion.
    static std::uint32_t check(const std::uint8_t *data, std::size_t length);

private:
    std::vector<std::uint8_t> m_cells;
    std::size_t m_used = 0;
    bool m_marked = false;
    unsigned long m_markerWrites = 0;
};
