#pragma once

#include "model/lifecycle/AppModel.h"

class QWidget;

// The model's questions to the user as file dialogs of this desktop.
Panels fileDialogs(QWidget* parent);
