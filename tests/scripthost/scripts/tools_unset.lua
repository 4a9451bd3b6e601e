-- The script defines no Tools at all.
Helper = true
