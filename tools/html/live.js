// The live view: the run from the server that follows the solver.
