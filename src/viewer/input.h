// Mouse and keyboard callbacks, and the idle callback that is playback.
#pragma once

// Playback is running exactly while this is the idle callback: it posts a redisplay, and every
// redisplay draws the next record.
void onIdle();

void onMouse(int button, int buttonState, int x, int y);
void onKey(unsigned char key, int x, int y);
void onSpecialKey(int key, int x, int y);
