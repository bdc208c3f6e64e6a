// The step contract: a run is a short pipeline of steps, each started once when it becomes
// current, updated once per drawn frame while current, and asked for its analytics record at the
// end of the run.
#pragma once

#include <nlohmann/json.hpp>

#include <string>

#include "shell/log.h"

// What Update returns; any other value acts as Running.
enum StepStatus : int {
  Running = 0,
  Done = 1,               // the next step becomes current (and is started in this frame)
  Quit = 2,               // end the run: exit code 0, records sent
  QuitWithError = 3,      // end the run: exit code 1, records sent
  QuitWithoutReport = 4,  // end the run: exit code 0, no records sent
};

class IStep {
 public:
  virtual int Update(float dt) = 0;
  virtual void Start() = 0;
  virtual nlohmann::json GetAnalyticsRecord() = 0;
  virtual ~IStep() = default;
};

// The shape every step shares: a logger named "class " + its class name, the duration that each
// Update grows by its time step, and the record whose "result" Start sets to "succeeded".
// Constructing a step does nothing else: no file, process, network or log activity before Start.
class StepBase : public IStep {
 protected:
  explicit StepBase(std::string type_name) : type_name_(std::move(type_name)) {}

  // Start's opening: "result" = "succeeded", then the step's logger.
  void BeginStart() {
    record_["result"] = "succeeded";
    logger_ = CreateLogger(type_name_);
  }
  // Update's opening: the duration grows by the time step.
  void AddTime(float dt) { duration_ += dt; }
  // The record with "step_type" and "step_duration" set, for GetAnalyticsRecord to complete.
  nlohmann::json& CompleteRecord() {
    record_["step_type"] = type_name_;
    record_["step_duration"] = static_cast<double>(duration_);
    return record_;
  }

  const std::string type_name_;
  Logger logger_;
  float duration_ = 0;
  nlohmann::json record_;
};
