#pragma once

#include <SoapySDR/Constants.h>

#include <stdexcept>
#include <string>

// Argument checks the module's files share. Every error a client sees is a std::runtime_error with
// the driver key in front: the programs built on SoapySDR catch that type (gr-osmosdr, and so gqrx,
// catches no other), and its message is what they show.
namespace soapyargs {

[[noreturn]] inline void fail(const std::string &what)
{
    throw std::runtime_error("tarnixddc: " + what);
}

inline void checkChannel(int direction, size_t channel)
{
    if (direction != SOAPY_SDR_RX || channel != 0)
        fail("the receiver has one RX channel (0)");
}

inline bool parseBool(const std::string &value)
{
    if (value == "true" || value == "1" || value == "on" || value == "yes")
        return true;
    if (value == "false" || value == "0" || value == "off" || value == "no")
        return false;
    fail("not a boolean: " + value);
}

inline std::string boolText(bool on)
{
    return on ? "true" : "false";
}

} // namespace soapyargs
