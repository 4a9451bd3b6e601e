-- Tools is a string, not a table.
Tools = "Tools"
