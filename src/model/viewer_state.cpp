// The one ViewerState of the program.
#include "model/viewer_state.h"

// Defined here, out of line, so that the one instance is set to its initial values when the
// program starts rather than stored in the binary with them: the streams' buffers and the tables
// are zero, a few flags are not, and a constant initializer would put the whole object, tables of
// any size included, into the program file.
ViewerState::ViewerState() = default;

ViewerState state;
