// Building message and path texts.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

// The pieces joined into one string, in order.
std::string concat(std::initializer_list<std::string_view> pieces);
