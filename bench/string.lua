-- Strings are immutable in Lua: appending goes through a buffer, then one concat.
local parts = {}
for i = 1, 1000000 do parts[#parts + 1] = "k" end
local s = table.concat(parts)
print(#s)
