-- Compiles, but its main chunk fails.
error("image access unavailable", 0)
