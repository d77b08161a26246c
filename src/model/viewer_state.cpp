// The one ViewerState of the program.
#include "model/viewer_state.h"

ViewerState state;
