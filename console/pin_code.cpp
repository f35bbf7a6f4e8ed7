#include "console/pin_registry.h"

#include <random>

std::string NewPinCode()
{
    constexpr int kPinDigits = 8;
    static thread_local std::mt19937_64 generator { std::random_device {}() };
    std::uniform_int_distribution<int> digit(0, 9);
    std::string pin;
    for (int i = 0; i < kPinDigits; ++i)
        pin += static_cast<char>('0' + digit(generator));
    return pin;
}
