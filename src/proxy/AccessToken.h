#pragma once

#include <string>

// The secret a dock page presents to the event proxy to be trusted with REST
// replies and writes: 32 ASCII letters and digits, new for every proxy.
std::string generateAccessToken();
