#pragma once
// What the parts of the form machinery (forms_*win32.cpp) share, and no one
// else needs.

#include <vector>

#include "account/forms_win32.h"

namespace kelvra {

// The forms in their modal loops, innermost last.
std::vector<TForm*>& ModalForms();

// Offers a message for a form's window to the form's keyboard navigation;
// true when the form has dealt with it.
bool PreviewFormMessage(MSG& message);

}  // namespace kelvra
