local dir = arg[0]:match("(.*/)") or "./"
local f = assert(io.open(dir .. "data/words.txt", "r"))
local text = f:read("a")
f:close()
local counts, distinct = {}, 0
for word in text:gmatch("%a+") do
  word = word:lower()
  local n = counts[word]
  if n == nil then distinct = distinct + 1; n = 0 end
  counts[word] = n + 1
end
local pairs_ = {}
for w, n in pairs(counts) do pairs_[#pairs_ + 1] = {w, n} end
table.sort(pairs_, function(a, b) if a[2] ~= b[2] then return a[2] > b[2] end return a[1] < b[1] end)
local out = {}
for i = 1, 10 do out[#out + 1] = pairs_[i][1] .. " " .. pairs_[i][2] end
print(distinct .. " " .. table.concat(out, " "))
