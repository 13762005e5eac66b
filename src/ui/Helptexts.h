#pragma once
// The words of the help window's text topics.
#include <QString>

QString ConnectionHelpText();
QString LoadingHelpText();
QString LoggingHelpText();
