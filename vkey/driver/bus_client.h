// The tools' side of the virtual key bus driver's control device (vkeybus_protocol.h): plug a
// key in, pull it out, list the plugged-in keys, re-plug from the store. Each call returns 0 or
// a Win32 error; kBusNotInstalled when the driver is not there (not installed into the prefix,
// or not running).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "vkeybus_protocol.h"

namespace vkey::bus {

constexpr uint32_t kBusNotInstalled = 1060;  // ERROR_SERVICE_DOES_NOT_EXIST

bool Installed();
uint32_t Plug(const std::string& serial);
uint32_t Unplug(const std::string& serial);
uint32_t List(std::vector<VKEYBUS_KEY>* keys);
uint32_t Resync();

// One line for a user: what a failed call means.
std::string Explain(uint32_t error);

}  // namespace vkey::bus
