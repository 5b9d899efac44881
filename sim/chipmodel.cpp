#include "chipmodel.h"

std::uint16_t ChipModel::transfer(std::uint16_t frame)
{
    (void)frame;
    return statusFrame;
}
