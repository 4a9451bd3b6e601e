-- Looking an entry up in Tools raises an error (a guarding metatable).
Tools = setmetatable({}, { __index = function(_, key) error("no entry " .. key, 0) end })
