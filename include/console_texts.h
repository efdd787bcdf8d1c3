// Console texts in code page 932 bytes (see console_texts.cpp).
#pragma once

extern const char TEXT_LEARN_BANNER[];
extern const char TEXT_ALERT_BANNER[];
extern const char TEXT_USAGE_1[];
extern const char TEXT_USAGE_2[];
extern const char TEXT_USAGE_3[];
extern const char TEXT_USAGE_4[];
extern const char TEXT_USAGE_5[];
extern const char TEXT_USAGE_6[];
// printf format: the adapter count.
extern const char TEXT_ADAPTER_PROMPT[];
// printf format: the number of stations read from the list file.
extern const char TEXT_LIST_COUNT[];
