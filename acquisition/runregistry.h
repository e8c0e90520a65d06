#pragma once

// Which calibrations are in progress in this program: a run that polls, or
// samples on a run page that no header covers yet. Pages that would erase
// samples (clear all) ask here first; pages never call each other.

namespace acquisition {

// `owner` marks itself active or not; an owner going away must say false.
void setRunActive(const void *owner, bool active);
bool anyRunActive();

} // namespace acquisition
