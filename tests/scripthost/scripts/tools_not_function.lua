-- The entries are there, but none of them is a function.
Tools = { Init = "Init", Exit = 1, entry_fel2fes = {}, entry_fes_thread = true }
