// Console messages. Each is flushed as soon as it is written, so a user at a terminal sees it at
// once even though progress lines end in a carriage return rather than a line break.
#pragma once

inline constexpr const char* MSG_CANNOT_OPEN = "file cannot open.\n";
inline constexpr const char* MSG_PROMPT = "press Enter to start \n";
inline constexpr const char* MSG_END_OF_RUN = "PRESS MOUSE BUTTON ON DISPLAY\r";

void printMessage(const char* text);

// "Progress:  Virtual:%lf[s]\r" with the time of the frame.
void printProgress(double t);
