#pragma once
// Scaling a picture to another size for the JPEG encoder's sampling: area
// averaging (a box filter), the stand-in for a halftone stretch. Standard library only.
// (Filled in with the encoder.)
