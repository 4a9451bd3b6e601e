-- Compiles, but its main chunk fails.
Tools = {}
error("tool script refuses to load", 0)
