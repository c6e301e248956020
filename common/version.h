#pragma once

// The version both programs show and the update check compares with.
namespace Version {
constexpr char Text[] = "1.000";
} // namespace Version
