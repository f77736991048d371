// Lets SIGINT, SIGTERM and SIGHUP close the window the way its close box does, so a
// desktop session that ends, or a kill, stops the server in order and an unfinished
// save is discarded instead of leaving its temporary file behind.
#pragma once

class QWidget;

// Call once, after the window exists; it must outlive the event loop.
void CloseOnStopSignals(QWidget* window);
