// Placeholder until the profile store lands: defaults only.
#include "Profile.h"
