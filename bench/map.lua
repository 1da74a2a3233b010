local m = {}
for i = 1, 200000 do m[i] = i % 100 end
local sum = 0
for i = 1, 200000 do sum = sum + m[i] end
print(sum)
