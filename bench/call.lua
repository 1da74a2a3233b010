-- Lua functions give values only through return; the same function as return.lua.
local function next_value(x) return x + 1 end
local n = 0
for _ = 1, 1000000 do n = next_value(n) end
print(n)
