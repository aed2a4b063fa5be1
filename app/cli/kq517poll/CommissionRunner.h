#pragma once
// Runs the poller's commissioning modes (see CommissionOptions.h). Results go
// to Out, progress and failures to Err; each returns the exit status.

#include <memory>
#include <ostream>

#include "PollOptions.h"
#include "RegisterSource.h"

int RunCommission(const TPollOptions& Options, std::ostream& Out, std::ostream& Err);

int RunScanMode(const TPollOptions& Options, std::ostream& Out, std::ostream& Err);
int RunDetectMode(const TPollOptions& Options, std::ostream& Out, std::ostream& Err);
int RunTestMode(const TPollOptions& Options, std::ostream& Out, std::ostream& Err);

// The register source --tcp or --serial with their settings describe.
std::unique_ptr<TRegisterSource> RegisterSourceFor(const TPollOptions& Options);
