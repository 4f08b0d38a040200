#pragma once

// A termination request takes effect when control reaches the main message
// loop. One made before the loop has started is remembered, so that main()
// can end the program without entering the loop at all.
void RequestApplicationTermination();
bool ApplicationTerminationRequested();
