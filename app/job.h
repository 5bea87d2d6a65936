// The run's job: input.txt read once (its bytes, their hash, the job they
// describe), checked, lowered to what the engines track, and the fragment
// shader made from it, written to shadercode.txt.
#pragma once
#include "app/run_state.h"

// Reads input.txt once into the run, with the command line's precision
// when it gives one; a job that cannot be run (job_refusal) ends the
// program through fatal_error.
void read_run_job(RunState* run, const RunOptions* options);
// Lowers the run's job and writes "shadercode.txt"; returns the fragment
// shader source (owned by the run).
char* prepare_job(RunState* run);
