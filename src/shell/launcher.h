// The launcher run: start-up, the frame loop over the step pipeline, the end of the run.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/resources.h"
#include "platform/window_host.h"
#include "shell/options.h"
#include "shell/screen_kit.h"
#include "shell/step.h"

using StepList = std::vector<std::unique_ptr<IStep>>;

// The pipeline for these options: the uninstall step alone for "-uninstall", otherwise install,
// self-update, application update and launch, in this order. Steps that show progress keep a
// reference to `progress_bar`.
StepList GetSteps(const LaunchOptions& options, ProgressBar& progress_bar);

using StepListFactory = StepList (*)(const LaunchOptions&, ProgressBar&);

// One whole run of the launcher with the process arguments (the launcher's own path first) on
// `host`; returns the process exit code. Tests hand in their own `make_steps`.
int RunLauncher(const std::vector<std::string>& arguments, IWindowHost& host,
                const IResourceProvider& resources, StepListFactory make_steps = GetSteps);
