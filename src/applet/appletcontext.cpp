#include "applet/appletcontext.h"

#include "link/controlboard.h"

bool AppletContext::isMockUp() const
{
    const ControlBoard *link = this->link();
    return link && link->mode() == ControlBoard::MockUp;
}
