#pragma once
// Opening the link's line from a window without holding the window up.
#include <cstdint>
#include <string>

class QWidget;

// Opens the link's line by name at the rate, with what the line held before discarded. A line
// whose open may take seconds (one on the network: a name to look up, a host to reach) opens on
// a thread of its own while the wait window, over `over`, says so; its Cancel abandons the
// attempt, and the window goes on receiving and painting meanwhile. Any other line opens at
// once. False on failure, the link's line then telling why.
bool OpenLinkLine(const std::string& name, uint32_t baud, QWidget* over);
