#pragma once
// The two built-in decks new users start from, fitted later to the installed applications.
//
// Each app key lists the macOS bundle identifiers of its application and, after them, the
// desktop-file IDs under which the same application (or, for Terminal and Settings, the
// desktop's own application in that role) is installed on Linux.

#include <string>

#include "protocol/deck_category.h"
#include "protocol/deck_template.h"

namespace velopad::DeckTemplates {

// Built once, on first use; never changes.
const DeckTemplate& streaming();
const DeckTemplate& gaming();

// The gaming template for the gaming category, the streaming template for every other.
const DeckTemplate& templateFor(DeckCategoryID category);

}  // namespace velopad::DeckTemplates
