// How a nodlet is addressed and named, and the frames the tool sends to it.
#pragma once

#include "can/can_frame.h"

/// The node's name for messages: "Finger 1".."Finger 3", "Spread", or "<Unknown>".
const char* nodletName(int node);

/// Asks the node for its version; any answer shows that it is powered.
CanFrame queryFrame(int node);
/// Resets the node.
CanFrame resetFrame(int node);
/// Tells the node that the firmware download starts.
CanFrame startFrame(int node);
/// Carries one payload character, as the character's byte.
CanFrame dataFrame(int node, char character);
