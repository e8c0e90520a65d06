#pragma once

// Registers the images compiled into the static resource library.
void initOrvenImages();
