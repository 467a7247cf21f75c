// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/ProductionServices.h"

namespace tandrel {

ProductionServices::ProductionServices()
    : in_(CreateMIDIInput()), out_(CreateMIDIOutput()),
      services_{*in_, *out_, dialog_, boxes_, settings_, folders_, beeper_, loop_}
{
}

}  // namespace tandrel
