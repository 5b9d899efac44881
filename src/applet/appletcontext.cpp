#include "applet/appletcontext.h"

#include "link/controlboard.h"

bool AppletContext::isMockUp() const
{
    const ControlBoard *link = board();
    return link && link->mode() == ControlBoard::MockUp;
}
