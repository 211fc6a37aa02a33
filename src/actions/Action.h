// Action: the abstract base of every step of an action set.
//
// A concrete action reads and checks its manifest fields in its constructor,
// printing its complaints, and sets `_valid` once its required fields are
// read. The driver performs only valid actions. Actions are always created
// and owned through std::shared_ptr of their concrete class, which destroys
// them as that class; the destructor here is therefore protected and not
// virtual.
#pragma once

#include <rapidjson/document.h>

#include <string>

class Action {
 public:
  bool isValid() const;
  std::string getDescription() const;
  // Carries out the action. Failures are printed as lines or raised as
  // exceptions, which end the run.
  virtual void perform() = 0;

 protected:
  // Takes "description" when it is a string; anything else is ignored.
  explicit Action(const rapidjson::Value& object);
  ~Action() = default;
  Action(const Action&) = default;
  Action& operator=(const Action&) = default;

  std::string _description;
  bool _valid = false;
};
