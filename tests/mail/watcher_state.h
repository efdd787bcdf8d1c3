// The watcher's process-wide state for in-process tests, put back to its
// start values or set as a frame and the settings would set it.
#pragma once

#include <string>

#include "in_process.h"

// Zero-fills the station table, the current texts and the settings, as at
// program start.
void reset_watcher_state();

// Fills the four settings slots, as the loader would.
void set_settings(const std::string& server, const std::string& recipients,
                  const std::string& sender, const std::string& subject);

// Sets the texts of the frame in hand.
void set_frame(const std::string& mac, const std::string& ip);
