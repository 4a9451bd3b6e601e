-- Every entry succeeds and records what it was given.
Seen = {}

local function Describe(args)
  local keys = {}
  for k in pairs(args) do keys[#keys + 1] = k end
  table.sort(keys)
  local parts = {}
  for _, k in ipairs(keys) do
    parts[#parts + 1] = k .. "=" .. type(args[k]) .. ":" .. tostring(args[k])
  end
  return table.concat(parts, ";")
end

Tools = {}
function Tools.Init(args) Seen.Init = Describe(args) return true end
function Tools.Exit(...) Seen.Exit = select("#", ...) return true end
function Tools.entry_fel2fes(args) Seen.entry_fel2fes = Describe(args) return true end
function Tools.entry_fes_thread(args) Seen.entry_fes_thread = Describe(args) return true end
