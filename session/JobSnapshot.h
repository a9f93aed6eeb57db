#pragma once

#include <QString>

struct Context;
struct RunTag;

// A run under an approved job reads the job's bytes, never a path that
// anyone may have written since: before anything is sent they are taken
// from the history's database at `history` into a private snapshot, their
// SHA-256 checked against the job's, and the snapshot becomes the run's
// load file. A job gone, retired or not matching fails the run in `ctx`.
void TakeJobSnapshot(Context& ctx, const QString& history, const RunTag& tag);
