// SPDX-License-Identifier: GPL-2.0-or-later
// Message catalogue access: every text a user reads goes through _().
#pragma once

#include <libintl.h>
#include <locale.h>

#define HOSTKIT_TEXT_DOMAIN "hostkit"

// Translate now, from the default domain.
#define _(text) dcgettext(nullptr, (text), LC_MESSAGES)
// Mark a text for the catalogue where it is stored, translated where used.
#define N_(text) (text)
