#include "demo/project_icons.h"

#include <array>
#include <filesystem>
#include <string_view>

#include "formats/ico_file.h"
#include "machine/atomic_file.h"
#include "machine/machine.h"
#include "machine/win_path.h"

namespace tarnwick {
namespace {

// One picture at both sizes, one character per pixel; "." is transparent.
struct Art {
  std::array<std::string_view, 32> large;
  std::array<std::string_view, 16> small;
};

struct PaletteEntry {
  char key;
  uint32_t argb;
};
constexpr PaletteEntry kPalette[] = {
    {'k', 0xFF000000}, {'w', 0xFFFFFFFF}, {'E', 0xFFC0C0C0}, {'e', 0xFF808080}, {'d', 0xFF404040},
    {'s', 0xFFFCD5B0}, {'S', 0xFFE0A880}, {'h', 0xFF6B3E1E}, {'H', 0xFF9A6232}, {'y', 0xFFF5C842},
    {'Y', 0xFFC89A20}, {'r', 0xFFE03030}, {'R', 0xFF9A1818}, {'p', 0xFFF58CC0}, {'P', 0xFFC0508A},
    {'u', 0xFF3A70E0}, {'U', 0xFF1C3C9C}, {'g', 0xFF40B040}, {'G', 0xFF1E7A2A}, {'o', 0xFFF39A28},
    {'O', 0xFFB8661A}, {'n', 0xFF000080}, {'c', 0xFF80D8F8}, {'t', 0xFFD2A060}, {'T', 0xFF8E6434},
    {'m', 0xFFC83C3C}, {'f', 0xFFFFF0A0}, {'b', 0xFF202020},
};

constexpr uint32_t Colour(char key) {
  for (const PaletteEntry& e : kPalette) {
    if (e.key == key) return e.argb;
  }
  return 0;
}

template <size_t N>
constexpr bool WellFormed(const std::array<std::string_view, N>& rows) {
  for (std::string_view row : rows) {
    if (row.size() != N) return false;
    for (char c : row) {
      if (c != '.' && Colour(c) == 0) return false;
    }
  }
  return true;
}

constexpr bool WellFormed(const Art& art) {
  return WellFormed(art.large) && WellFormed(art.small);
}

// clang-format off
constexpr Art kGirlArt{{
    "................................",
    "................................",
    "................................",
    "............kkkkkkkk............",
    "..........kkyyyyyyyykk..........",
    ".........kyyyyyyyyyyyyk.........",
    "........kyyyyyyyyyyyyyyk........",
    "........kyyyyyyyyyyyyyyk........",
    "....kkkkyyyyyyyyyyyyyyyykkkk....",
    "...krrrryyyyyyyyyyyyyyyyrrrrk...",
    "...krrrrryssssssssssssyrrrrrk...",
    "...krrrryyssssssssssssyyrrrrk...",
    "...kyyyyyssssssssssssssyyyyyk...",
    "..kyyyyyyssssssssssssssyyyyyyk..",
    "..kyyyyyyssskssssssksssyyyyyyk..",
    "..kyyyyyyssskssssssksssyyyyyyk..",
    "..kyyyyyyssssssssssssssyyyyyyk..",
    "..kyyyyyyyspsssssssspsyyyyyyyk..",
    "..kyyyyykysssmssssmsssykyyyyyk..",
    "..kyyyyykyysssmmmmsssyykyyyyyk..",
    "..kyyyyykkyssssssssssykkyyyyyk..",
    "...kyyyk..kkyssssssykk..kyyyk...",
    "....kyk.....kSSSSSkk.....kyk....",
    ".....k......kSSSSSk.......k.....",
    "..........kkkSSSSSkkkk..........",
    "........kkpppwwwwwwpppkk........",
    "......kkppppppwwwwppppppkk......",
    ".....kpppppppppwwpppppppppk.....",
    "....kppppppppppppppppppppppk....",
    "...kppppppppppppppppppppppppk...",
    "..kppppppppppppppppppppppppppk..",
    "..kppppppppppppppppppppppppppk..",
}, {
    "................",
    "......kkkk......",
    ".....kyyyyk.....",
    "..kkkyyyyyykkk..",
    ".krryyyyyyyyrrk.",
    ".krryssssssyrrk.",
    ".kyyyssssssyyyk.",
    "kyyyyskssksyyyyk",
    "kyyyyssssssyyyyk",
    "kyyyksssssskyyyk",
    ".kyykksmmskkyyk.",
    "..kk..kSSk..kk..",
    "...kkkwwwpkkk...",
    "..kppppwwppppk..",
    ".kppppppppppppk.",
    ".kppppppppppppk.",
}};

constexpr Art kBoyArt{{
    "................................",
    "................................",
    "................................",
    ".............kkkkkk.............",
    "..........kkkHHHHHHkkk..........",
    ".........kHHHHHHHHHHHHk.........",
    "........kHHHHHHHHHHHHHHk........",
    "........kHHHHHHHHHHHHHHk........",
    ".......kHHHHHHHHHHHHHHHHk.......",
    ".......kHHHHHHHHHHHHHHHHk.......",
    "........kksssssssssssskk........",
    ".........kssssssssssssk.........",
    ".......kksssssssssssssskk.......",
    "......kssssssssssssssssssk......",
    "......kssssskssssssksssssk......",
    "......kssssskssssssksssssk......",
    "......kssssssssssssssssssk......",
    ".......kkksssssssssssskkk.......",
    ".........ksssmssssmsssk.........",
    "..........ksssmmmmsssk..........",
    "..........kssssssssssk..........",
    "...........kksssssskk...........",
    "............kSSSSSk.............",
    "............kSSSSSk.............",
    "..........kkkSSSSSkkkk..........",
    "........kkuuwuuuuuwuuukk........",
    "......kkuuuuuwuuuwwuuuuukk......",
    ".....kuuuuuuuuwuwwuuuuuuuuk.....",
    "....kuuuuuuuuuuwwuuuuuuuuuuk....",
    "...kuuuuuuuuuuuuuuuuuuuuuuuuk...",
    "..kuuuuuuuuuuuuuuuuuuuuuuuuuuk..",
    "..kuuuuuuuuuuuuuuuuuuuuuuuuuuk..",
}, {
    "................",
    ".....kkkkkk.....",
    "....kHHHHHHk....",
    "...kHHHHHHHHk...",
    "...kHHHHHHHHk...",
    "....kssssssk....",
    "...kssssssssk...",
    "..ksssksskssk...",
    "...kssssssssk...",
    "....kssssssk....",
    ".....ksmmsk.....",
    "......kSSk......",
    "...kkkuuuwkkk...",
    "..kuuuuuwuuuuk..",
    ".kuuuuuuuuuuuuk.",
    ".kuuuuuuuuuuuuk.",
}};

constexpr Art kWomanArt{{
    "................................",
    "................................",
    "................................",
    ".............kkkkkk.............",
    "...........kkhhhhhhkk...........",
    ".........kkhhhhhhhhhhkk.........",
    "........khhhhhhhhhhhhhhk........",
    ".......khhhhhhhhhhhhhhhhk.......",
    ".......khhhsshhhhhhhhhhhk.......",
    "......khhhhsshhhhhhhhhhhhk......",
    "......khhhssshhhhhhhhhhhhk......",
    ".....khhhhsssssssssssshhhhk.....",
    ".....khhhsssssssssssssshhhk.....",
    ".....khhhsssssssssssssshhhk.....",
    ".....khhhsssksssssskssshhhk.....",
    ".....khhhsssksssssskssshhhk.....",
    ".....khhhsssssssssssssshhhk.....",
    ".....khhhhspsssssssspshhhhk.....",
    ".....khhhhsssRssssRssshhhhk.....",
    ".....khhhyhsssRRRRssshyhhhk.....",
    ".....khhhhhsssssssssshhhhhk.....",
    ".....khhhhhhhsssssshhhhhhhk.....",
    ".....khhhhhhhSSSSShhhhhhhhk.....",
    ".....khhhhhhhSSSSShhhhhhhhk.....",
    ".....khhhhhhhsssssshhhhhhhk.....",
    ".....khhhhrrrrssssrrrrhhhhk.....",
    ".....khhrrrrrryssyrrrrrrhhk.....",
    ".....krrrrrrrrryyrrrrrrrrrk.....",
    "....krrrrrrrrrrrrrrrrrrrrrrk....",
    "...krrrrrrrrrrrrrrrrrrrrrrrrk...",
    "..krrrrrrrrrrrrrrrrrrrrrrrrrrk..",
    "..krrrrrrrrrrrrrrrrrrrrrrrrrrk..",
}, {
    "................",
    "......kkkk......",
    "....kkhhhhkk....",
    "...khhhhhhhhk...",
    "...khsshhhhhk...",
    "..khhsssssshhk..",
    "..khhsssssshhk..",
    "..khhsksskshhk..",
    "..khhsssssshhk..",
    "..khhsssssshhk..",
    "..khhhsRRshhhk..",
    "..khhhhSShhhhk..",
    "..khhhrssrhhhk..",
    "..krrrrssrrrrk..",
    ".krrrrrrrrrrrrk.",
    ".krrrrrrrrrrrrk.",
}};

constexpr Art kManArt{{
    "................................",
    "................................",
    "................................",
    "................................",
    ".............kkkkkk.............",
    "...........kkddddddkk...........",
    "..........kddddddddddk..........",
    ".........kddddddddddddk.........",
    "........kddddddddddddddk........",
    ".......kddddddddddddddddk.......",
    ".......kddddsssssssssskk........",
    "........kkssssssssssssk.........",
    ".......kksssssssssssssskk.......",
    "......kssssssssssssssssssk......",
    "......kssssskssssssksssssk......",
    "......kssssskssssssksssssk......",
    "......kssssssssssssssssssk......",
    ".......kkksssHHHHHHssskkk.......",
    ".........ksssmssssmsssk.........",
    "..........ksssmmmmsssk..........",
    "..........kssssssssssk..........",
    "...........kksssssskk...........",
    "............kSSSSSk.............",
    "............kSSSSSkk............",
    "..........kkwwwwwwwwkk..........",
    "........kknnnwwrrwwnnnkk........",
    "......kknnnnnnwrrwnnnnnnkk......",
    ".....knnnnnnnnwrrwnnnnnnnnk.....",
    "....knnnnnnnnnnrrnnnnnnnnnnk....",
    "...knnnnnnnnnnnrrnnnnnnnnnnnk...",
    "..knnnnnnnnnnnrrrrnnnnnnnnnnnk..",
    "..knnnnnnnnnnnnrrnnnnnnnnnnnnk..",
}, {
    "................",
    "................",
    ".....kkkkkk.....",
    "....kddddddk....",
    "...kddddddddk...",
    "...kddsssssk....",
    "...kssssssssk...",
    "..ksssksskssk...",
    "...ksssHHsssk...",
    "....kssssssk....",
    ".....ksmmsk.....",
    "......kSSk......",
    "...kkkwrwwkkk...",
    "..knnnnrrnnnnk..",
    ".knnnnnrrnnnnnk.",
    ".knnnnnrrnnnnnk.",
}};

constexpr Art kCatArt{{
    "................................",
    "................................",
    "................................",
    ".....k....................k.....",
    "....kok..................kok....",
    "....kook................kook....",
    "....koook..............koook....",
    "....kooook..kkkkkkkk..kooook....",
    "....koooookkooooooookkoopook....",
    "....koopoooooooooooooooppok.....",
    ".....koppooooooOOooooopppok.....",
    ".....kopppoooooooooooppppok.....",
    ".....koopoooooOoOOooooopook.....",
    "....kooooooooooOoooooooooook....",
    "....kooooooooooooooooooooook....",
    "...koooooookooooooookoooooook...",
    "...koooooogkgoooooogkgooooook...",
    "...koooooogkgoooooogkgooooook...",
    "...koooooookooooooookoooooook...",
    "...koooooooowwwwwwwwooooooook...",
    "...kkkkoooowwwwwwwwwwooookkkk...",
    "....kooooowwwwwPPwwwwwoooook....",
    "....kkoooowwwwwPPwwwwwooookk....",
    "...k.koooowwwwwwkwkwwwooook.k...",
    "......kooowwwwkkwkwwwwoook......",
    ".......kooowwwwwwwwwwoook.......",
    "........kkoowwwwwwwwookk........",
    "..........kkooooooookk..........",
    "............kkkkkkkk............",
    "................................",
    "................................",
    "................................",
}, {
    "................",
    "................",
    "...k........k...",
    "..kokkkkkkkkok..",
    "..kooooooooook..",
    "..kopoooooopok..",
    "..kooooooooook..",
    ".kooooooooooook.",
    ".kooogkookgoook.",
    ".kooooowwoooook.",
    ".kooowwwwwwoook.",
    "..koowwPPwwook..",
    "...kowwwwwwok...",
    "....koowwook....",
    ".....kkkkkk.....",
    "................",
}};

constexpr Art kDogArt{{
    "................................",
    "................................",
    "................................",
    "................................",
    "................................",
    ".....kk.....kkkkkkkk.....kk.....",
    "....kTTk..kkttTTTTttkk..kTTk....",
    "...kTTTTkktttttTTtttttkkTTTTk...",
    "..kTTTTTTttttttttttttttTTTTTTk..",
    "..kTTTTTTttttttttttttttTTTTTTk..",
    "..kTTTTTTttttttttttttttTTTTTTk..",
    ".kTTTTTTTTttttttttttttTTTTTTTTk.",
    ".kTTTTTTTTttttttttttttTTTTTTTTk.",
    ".kTTTTTTTTttttttttttttTTTTTTTTk.",
    ".kTTTTTTTTtwkttttttwktTTTTTTTTk.",
    ".kTTTTTTTTtkkttttttkktTTTTTTTTk.",
    ".kTTTTTTTTttttttttttttTTTTTTTTk.",
    "..kTTTTTTttttttttttttttTTTTTTk..",
    "..kTTTTTTttttffffffttttTTTTTTk..",
    "..kTTTTTTttfffkkkkfffttTTTTTTk..",
    "...kTTTTttffffkkkkffffttTTTTk...",
    "....kTTtttfffffkkffffftttTTk....",
    ".....kkkttffffffkfffffttkkk.....",
    "........ktffffffkffffftk........",
    ".........kffffkkfkkfffk.........",
    ".........kfffffpppffffk.........",
    "..........kffffpppfffk..........",
    "...........kkffffffkk...........",
    ".............kkkkkk.............",
    "................................",
    "................................",
    "................................",
}, {
    "................",
    "................",
    "..kk.kkkkkk.kk..",
    ".kTTkttttttkTTk.",
    ".kTTttttttttTTk.",
    "kTTTTttttttTTTTk",
    "kTTTTttttttTTTTk",
    "kTTTTkttttkTTTTk",
    "kTTTTttttttTTTTk",
    ".kTTttffffttTTk.",
    ".kTTtffkkfftTTk.",
    "..kktfffffftkk..",
    "....kfffpffk....",
    ".....kffffk.....",
    "......kkkk......",
    "................",
}};

constexpr Art kFishArt{{
    "................................",
    "................................",
    "....c...........................",
    "................................",
    "................k...............",
    "..c............kOk..............",
    "..............kOOOk.............",
    "............kkOOOOk.............",
    ".........kkkOOOOOOOk..........k.",
    ".c.....kkooooooooooOk........kOk",
    ".....kkooooooooooooookk.....kOOk",
    "....koooooooooOooooooook...kOOOk",
    "...kooooooooooOoooooooook.kOOOk.",
    "...kooowwoooooOoooooooookkOOOOk.",
    "..koooowkoooooOooooooooooOOOOOk.",
    "..kooookkoooooOooooooooooOOOOOk.",
    "..koooooooooooOooooooooooOOOOOk.",
    "..koooooooooooOooooooooooOOOOOk.",
    "...kkoooooooooOoooooooookkOOOOk.",
    "...kokooooooooOoooooooook.kOOOk.",
    "....koooooooooOooooooook...kOOOk",
    ".....kkoooooooOooooookk.....kOOk",
    ".......kkooooooooookk........kOk",
    ".........kkkkkkOOOOk..........k.",
    "...............kOOk.............",
    "................kOk.............",
    ".................k..............",
    "................................",
    "................................",
    "................................",
    "................................",
    "................................",
}, {
    "................",
    "................",
    ".......kk.......",
    ".....kkOOk......",
    "...kkooooOk...k.",
    "..kooooooook.kOk",
    ".kooooooooookOOk",
    ".kookooOooooOOOk",
    ".koooooOooooOOOk",
    ".kooooooooookOOk",
    "..kooooooook.kOk",
    "...kkooookk...k.",
    ".....kkkOk......",
    "........k.......",
    "................",
    "................",
}};

constexpr Art kBirdArt{{
    "................................",
    "................................",
    "................................",
    "................................",
    "................................",
    "..................kkkk..........",
    "................kkuuuukk........",
    "...............kuuuuuuuuk.......",
    "..........kkkkkuuuuuuuuuuk......",
    ".........kuuuuuuuuuuuuuuuk......",
    ".......kkuuuuuuuuuuuuwkuuuk.....",
    "......kuuuuuuuuuuuuuukkuuuk.....",
    "......kuuuuuuuuuuuuuuuuuuukk....",
    ".....kuuuuuuuuuuuuuuuuuuuuookk..",
    ".kk.kuuUUUUUUuuuuuuuuuuuuoooook.",
    "kUUkkUUUUUUUUUUuuuuuuuuuuoookk..",
    ".kUUUUUUUUUUUUUwwwwwwuuuukkk....",
    ".kUUUUUUUUUUUUUwwwwwwwuuuk......",
    "..kUUUUUUUUUUUUwwwwwwwwuuk......",
    "...kUuuUUUUUUwwwwwwwwwwuuk......",
    "....kkuuuuuwwwwwwwwwwwwuk.......",
    "......kuuuuwwwwwwwwwwwwk........",
    "......kuuuuuwwwwwwwwwwuk........",
    ".......kkuuuuwwwwwwwwkk.........",
    ".........kuuuuuuuuuuk...........",
    "..........kkkkokkkok............",
    ".............kok.kok............",
    ".............kok.kok............",
    ".............kok.kok............",
    "............ook.ook.o...........",
    "................................",
    "................................",
}, {
    "................",
    "................",
    "........kkkk....",
    "......kkuuuuk...",
    "....kkuuuuuuuk..",
    "...kuuuuuuukuk..",
    "..kuuuuuuuuuuk..",
    ".kkUUUUuuuuuuok.",
    "kUUUUUUUwwwuuk..",
    ".kUUUUUwwwwuk...",
    "..kuuuwwwwwuk...",
    "...kuuwwwwwk....",
    "....kkuouok.....",
    "......kokok.....",
    ".......k.k......",
    "................",
}};

constexpr Art kStarArt{{
    "................................",
    "................................",
    "...............kk...............",
    "..............kYYk..............",
    "..............kYYk..............",
    "..............kYYk..............",
    ".............kYyyYk.............",
    ".............kYyyYk.............",
    ".............kYyyYk.............",
    "............kYfyyyYk............",
    "............kYfyyyYk............",
    "..kkkkkkkkkkYfffyyyYkkkkkkkkkk..",
    ".kYYYYYYYYYYyfffyyyyYYYYYYYYYYk.",
    "..kYyyyyfffffffffffffyyyyyyyYk..",
    "...kYYyyyfffffffffffyyyyyyYYk...",
    "....kkYyyyyfffffffyyyyyyyYkk....",
    "......kYyyyyfffffyyyyyyyYk......",
    ".......kYyyfffffffyyyyyYk.......",
    "........kYyfffyfffyyyyYk........",
    ".........kYffyyyffyyyYk.........",
    ".........kYyyyyyyyyyyYk.........",
    "........kYyyyyyyyyyyyyYk........",
    "........kYyyyyyyyyyyyyYk........",
    "........kYyyyyYYYYyyyyYk........",
    ".......kYyyyyYkkkkYyyyyYk.......",
    ".......kYyyYYk....kYYyyYk.......",
    ".......kYyYkk......kkYyYk.......",
    ".......kYYk..........kYYk.......",
    "......kYkk............kkYk......",
    ".......k................k.......",
    "................................",
    "................................",
}, {
    "................",
    ".......kk.......",
    "......kYYk......",
    "......kYYk......",
    "......kYYk......",
    ".kkkkkYfyYkkkkk.",
    "kYYYYYffyyYYYYYk",
    ".kkYyffffyyyYkk.",
    "...kYyfffyyYk...",
    "....kYfyfyYk....",
    "....kYyyyyYk....",
    "...kYyyYYyyYk...",
    "...kYYYkkYYYk...",
    "...kYkk..kkYk...",
    "....k......k....",
    "................",
}};

constexpr Art kHouseArt{{
    "................................",
    "................................",
    "...............kk....kkkk.......",
    "..............kRRk..krrrrk......",
    ".............kRRRRk.krrrrk......",
    "............kRRRRRRkkrrrrk......",
    "...........kRRRRRRRRkrrrrk......",
    "..........kRRRRRRRRRRrrrrk......",
    ".........kRRRRRRRRRRRRrrrk......",
    "........kRRRRRRRRRRRRRRrrk......",
    ".......kRRRRRRRRRRRRRRRRrk......",
    "......kRRRRRRRRRRRRRRRRRRk......",
    ".....kRRRRRRRRRRRRRRRRRRRRk.....",
    "....kRRRRRRRRRRRRRRRRRRRRRRk....",
    "...kRRRRRRRRRRRRRRRRRRRRRRRRk...",
    "..kRRRRRRRRRRRRRRRRRRRRRRRRRRk..",
    "...kkkEEEEEEEEEEEEEEEEEEEEkkk...",
    ".....kEEEEEEEEEEEEEEEEEEEEk.....",
    ".....kEEccccEEEEEEEEccccEEk.....",
    ".....kEEccccEEEEEEEEccccEEk.....",
    ".....kEEccccEhhhhhhEccccEEk.....",
    ".....kEEccccEhhhhhhEccccEEk.....",
    ".....kEEccccEhhhhhhEccccEEk.....",
    ".....kEEEEEEEhhhhhhEEEEEEEk.....",
    ".....kEEEEEEEhhhhhhEEEEEEEk.....",
    ".....kEEEEEEEhhhhyhEEEEEEEk.....",
    ".....kEEEEEEEhhhhhhEEEEEEEk.....",
    ".....kEEEEEEEhhhhhhEEEEEEEk.....",
    ".....kEEEEEEEhhhhhhEEEEEEEk.....",
    ".....kEEEEEEEhhhhhhEEEEEEEk.....",
    "......kkkkkkkkkkkkkkkkkkkk......",
    "................................",
}, {
    "..........kk....",
    ".......kkkrrk...",
    "......kRRkrrk...",
    ".....kRRRRrrk...",
    "....kRRRRRRrk...",
    "...kRRRRRRRRk...",
    "..kRRRRRRRRRRk..",
    ".kRRRRRRRRRRRRk.",
    "..kEEEEEEEEEEk..",
    "..kEccEEEEccEk..",
    "..kEcchhhEccEk..",
    "..kEEEhhhEEEEk..",
    "..kEEEhhhEEEEk..",
    "..kEEEhhhEEEEk..",
    "..kEEEhhhEEEEk..",
    "...kkkkkkkkkk...",
}};

constexpr Art kCarArt{{
    "................................",
    "................................",
    "................................",
    "................................",
    "................................",
    "................................",
    "................................",
    "...........kkkkkkkkkkk..........",
    "..........krrrrrrrrrrrk.........",
    ".........krrrrrrrrrrrrrk........",
    ".........krrccccrccccrrrk.......",
    "........krrcccccrcccccrrk.......",
    "........krrcccccrccccccrrk......",
    ".....kkkrrccccccrcccccccrrk.....",
    "..kkkrrrrrrrrrrrrrrrrrrrrrrkkk..",
    ".krrrrrrrrrrrrrrrrrrrrrrrrrrrrk.",
    ".krrrrrrrrrrrrrrRRrrrrrrrrrrrrrk",
    "krrrrrrrrrrrrrrrrrrrrrrrrrrrryyk",
    "krrrrrrrrrrrrrrrrrrrrrrrrrrrryrk",
    "krrrrrrbbbrrrrrrrrrrrrbbbbrrrrrk",
    "krrrrbbbbbbbrrrrrrrrrbbbbbbrrrrk",
    "krrrrbbbEbbbrrrrrrrrbbbEEbbbrrrk",
    "krrrrbbEEEbbrrrrrrrrbbEEEEbbrrrk",
    ".kkkkbbEEEbbkkkkkkkkbbEEEEbbkkk.",
    "....kbbbEbbbk......kbbbEEbbbk...",
    "....kbbbbbbbk.......kbbbbbbk....",
    ".....kkbbbkk.........kbbbbk.....",
    ".......kkk............kkkk......",
    "................................",
    "................................",
    "................................",
    "................................",
}, {
    "................",
    "................",
    "................",
    ".....kkkkkk.....",
    "....krrrrrrk....",
    "....krccrccrk...",
    ".kkkrcccrcccrk..",
    "krrrrrrrrrrrrrk.",
    "krrrrrrrrrrrrrrk",
    "krrrrrrrrrrrrrrk",
    "rrrbbbrrrrbbbbrk",
    "kkbEEbkkkkbEEbk.",
    "..kbbbk..kbbbbk.",
    "...kkk....kkkk..",
    "................",
    "................",
}};

constexpr Art kDefaultArt{{
    "................................",
    "................................",
    "................................",
    "................................",
    ".............kkkkkk.............",
    "............kUUUUUUk............",
    "...........kUuuuuuuUk...........",
    "..........kUuuuuuuuuUk..........",
    ".........kUuuuuuuuuuuUk.........",
    "........kUuuuuuuuuuuuuUk........",
    "........kUuuuuuuuuuuuuUk........",
    "........kUuuuuuuuuuuuuUk........",
    "........kUuuuuuuuuuuuuUk........",
    ".......kUuuuuuuuuuuuuuuUk.......",
    "........kUuuuuuuuuuuuuUk........",
    "........kUuuuuuuuuuuuuUk........",
    "........kUuuuuuuuuuuuuUk........",
    "........kUuuuuuuuuuuuuUk........",
    ".........kUuuuuuuuuuuUk.........",
    "..........kUuuuuuuuuUk..........",
    "...........kUuuuuuuUk...........",
    "............kUUUUUUk............",
    ".............kkkkkk.............",
    "............kkkkkkkk............",
    ".........kkkUUUUUUUUkkk.........",
    ".......kkUUUUUUUUUUUUUUkk.......",
    "......kUUUUUUUUUUUUUUUUUUk......",
    ".....kUUUUUUUUUUUUUUUUUUUUk.....",
    "....kUUUUUUUUUUUUUUUUUUUUUUk....",
    "...kUUUUUUUUUUUUUUUUUUUUUUUUk...",
    "..kUUUUUUUUUUUUUUUUUUUUUUUUUUk..",
    "..kUUUUUUUUUUUUUUUUUUUUUUUUUUk..",
}, {
    "................",
    "................",
    "......kkkk......",
    ".....kUUUUk.....",
    "....kUuuuuUk....",
    "...kUuuuuuuUk...",
    "...kUuuuuuuUk...",
    "...kUuuuuuuUk...",
    "....kUuuuuUk....",
    "....kUuuuuUk....",
    ".....kUUUUk.....",
    ".....kkkkkk.....",
    "...kkUUUUUUkk...",
    "..kUUUUUUUUUUk..",
    ".kUUUUUUUUUUUUk.",
    "kUUUUUUUUUUUUUUk",
}};

constexpr Art kFolderArt{{
    "................................",
    "................................",
    "................................",
    "................................",
    "..kkkkkkkkk.....................",
    ".kYYYYYYYYYk....................",
    "kYYYYYYYYYYYkkkkkkkkkkkkkkkk....",
    "kYYYYYYYYYYYYYYYYYYYYYYYYYYYk...",
    "kYYYYYYYYYYYYYYYYYYYYYYYYYYYk...",
    "kyyyyyyyyyyyyyyyyyyyyyyyyyyyyk..",
    "kyyyyyyyyyyyyyyyyyyyyyyyyyyyyk..",
    "kyffffffffffffffffffffffffffyk..",
    "kyyyyyyyyyyyyyyyyyyyyyyyyyyyyk..",
    "kyyyyyyyyyyyyyyyyyyyyyyyyyyyyk..",
    "kyyyyyyyyyyyyyyyyyyyyyyyyyyyyk..",
    "kyyyyyyyyyyyyyyyyyyyyyyyyyyyyk..",
    "kyyyyyyyyyyyyyyyyyyyyyyyyyyyyk..",
    "kyyyyyyyyyyyyyyyyyyyyyyyyyyyyk..",
    "kyyyyyyyyyyyyyyyyyyyyyyyyyyyyk..",
    "kyyyyyyyyyyyyyyyyyyyyyyyyyyyyk..",
    "kyyyyyyyyyyyyyyyyyyyyyyyyyyyyk..",
    "kyyyyyyyyyyyyyyyyyyyyyyyyyyyyk..",
    "kyyyyyyyyyyyyyyyyyyyyyyyyyyyyk..",
    "kyyyyyyyyyyyyyyyyyyyyyyyyyyyyk..",
    "kyyyyyyyyyyyyyyyyyyyyyyyyyyyyk..",
    "kyyyyyyyyyyyyyyyyyyyyyyyyyyyyk..",
    "kyyyyyyyyyyyyyyyyyyyyyyyyyyyyk..",
    ".kkkkkkkkkkkkkkkkkkkkkkkkkkkk...",
    "................................",
    "................................",
    "................................",
    "................................",
}, {
    "................",
    ".kkkk...........",
    "kYYYYkkkkkkkkk..",
    "YYYYYYYYYYYYYYk.",
    "yyyyyyyyyyyyyyk.",
    "yfffffffffffffk.",
    "yyyyyyyyyyyyyyk.",
    "yyyyyyyyyyyyyyk.",
    "yyyyyyyyyyyyyyk.",
    "yyyyyyyyyyyyyyk.",
    "yyyyyyyyyyyyyyk.",
    "yyyyyyyyyyyyyyk.",
    "yyyyyyyyyyyyyyk.",
    "kkkkkkkkkkkkkk..",
    "................",
    "................",
}};

constexpr Art kDocumentArt{{
    ".....kkkkkkkkkkkkkkk............",
    "....kwwwwwwwwwwwwwwwk...........",
    "....kwwwwwwwwwwwwwwwEk..........",
    "....kwwwwwwwwwwwwwwwEwk.........",
    "....kwwwwwwwwwwwwwwwEwwk........",
    "....kwwwwwwwwwwwwwwwEwwwk.......",
    "....kwwwwwwwwwwwwwwwEwwwwk......",
    "....kwwwwwwwwwwwwwwwEwwwwwk.....",
    "....kwwwwwwwwwwwwwwwEEEEEEEk....",
    "....kwwwwwwwwwwwwwwwwwwwwwwk....",
    "....kwwwwwwwwwwwwwwwwwwwwwwk....",
    "....kwwwwwwwwwwwwwwwwwwwwwwk....",
    "....kwwwweeeeeeeeeeeeeeewwwk....",
    "....kwwwwwwwwwwwwwwwwwwwwwwk....",
    "....kwwwwwwwwwwwwwwwwwwwwwwk....",
    "....kwwwweeeeeeeeeeeeeeewwwk....",
    "....kwwwwwwwwwwwwwwwwwwwwwwk....",
    "....kwwwwwwwwwwwwwwwwwwwwwwk....",
    "....kwwwweeeeeeeeeeeeeeewwwk....",
    "....kwwwwwwwwwwwwwwwwwwwwwwk....",
    "....kwwwwwwwwwwwwwwwwwwwwwwk....",
    "....kwwwweeeeeeeeeeeeeeewwwk....",
    "....kwwwwwwwwwwwwwwwwwwwwwwk....",
    "....kwwwwwwwwwwwwwwwwwwwwwwk....",
    "....kwwwweeeeeeeeeeeeeeewwwk....",
    "....kwwwwwwwwwwwwwwwwwwwwwwk....",
    "....kwwwwwwwwwwwwwwwwwwwwwwk....",
    "....kwwwweeeeeeeeeeeeeeewwwk....",
    "....kwwwwwwwwwwwwwwwwwwwwwwk....",
    "....kwwwwwwwwwwwwwwwwwwwwwwk....",
    "....kwwwwwwwwwwwwwwwwwwwwwwk....",
    ".....kkkkkkkkkkkkkkkkkkkkkk.....",
}, {
    ".kwwwwwwwwk.....",
    ".kwwwwwwwwwk....",
    ".kwwwwwwwwwwk...",
    ".kwwwwwwwwwwwk..",
    ".kwwwwwwwwwwwk..",
    ".kwwwwwwwwwwwk..",
    ".kwweeeeeeeewk..",
    ".kwwwwwwwwwwwk..",
    ".kwweeeeeeeewk..",
    ".kwwwwwwwwwwwk..",
    ".kwweeeeeeeewk..",
    ".kwwwwwwwwwwwk..",
    ".kwweeeeeeeewk..",
    ".kwwwwwwwwwwwk..",
    ".kwwwwwwwwwwwk..",
    "..kkkkkkkkkkk...",
}};

constexpr Art kProgramArt{{
    "................................",
    "................................",
    "................................",
    ".kkkkkkkkkkkkkkkkkkkkkkkkkkkkkk.",
    "kEEEEEEEEEEEEEEEEEEEEEEEEEEEEEEk",
    "kEnnnnnnnnnnnnnnnnnnnnnnnnnnnnEk",
    "kEnnnnnnnnnnnnnnnnnnnnnnnnEEnnEk",
    "kEnnnnnnnnnnnnnnnnnnnnnnnnEEnnEk",
    "kEnnnnnnnnnnnnnnnnnnnnnnnnnnnnEk",
    "kEEEEEEEEEEEEEEEEEEEEEEEEEEEEEEk",
    "kEEwwwwwwwwwwwwwwwwwwwwwwwwwwEEk",
    "kEEwwwwwwwwwwwwwwwwwwwwwwwwwwEEk",
    "kEEwwwwwwwwwwwwwwwwwwwwwwwwwwEEk",
    "kEEwwwwwwwwwwwwwwwwwwwwwwwwwwEEk",
    "kEEwwwwwwwwwwwwwwwwwwwwwwwwwwEEk",
    "kEEwwwwwwwwwwwwwwwwwwwwwwwwwwEEk",
    "kEEwwwwwwwwwwwwwwwwwwwwwwwwwwEEk",
    "kEEwwwwwwwwwwwwwwwwwwwwwwwwwwEEk",
    "kEEwwwwwwwwwwwwwwwwwwwwwwwwwwEEk",
    "kEEwwwwwwwwwwwwwwwwwwwwwwwwwwEEk",
    "kEEwwwwwwwwwwwwwwwwwwwwwwwwwwEEk",
    "kEEwwwwwwwwwwwwwwwwwwwwwwwwwwEEk",
    "kEEwwwwwwwwwwwwwwwwwwwwwwwwwwEEk",
    "kEEwwwwwwwwwwwwwwwwwwwwwwwwwwEEk",
    "kEEwwwwwwwwwwwwwwwwwwwwwwwwwwEEk",
    "kEEwwwwwwwwwwwwwwwwwwwwwwwwwwEEk",
    "kEEwwwwwwwwwwwwwwwwwwwwwwwwwwEEk",
    "kEEEEEEEEEEEEEEEEEEEEEEEEEEEEEEk",
    ".kkkkkkkkkkkkkkkkkkkkkkkkkkkkkk.",
    "................................",
    "................................",
    "................................",
}, {
    "................",
    "kkkkkkkkkkkkkkk.",
    "Ennnnnnnnnnnnnnk",
    "Ennnnnnnnnnnnnnk",
    "EEEEEEEEEEEEEEEk",
    "EwwwwwwwwwwwwwEk",
    "EwwwwwwwwwwwwwEk",
    "EwwwwwwwwwwwwwEk",
    "EwwwwwwwwwwwwwEk",
    "EwwwwwwwwwwwwwEk",
    "EwwwwwwwwwwwwwEk",
    "EwwwwwwwwwwwwwEk",
    "EwwwwwwwwwwwwwEk",
    "EEEEEEEEEEEEEEEk",
    "kkkkkkkkkkkkkkk.",
    "................",
}};

constexpr Art kLinkArt{{
    "................................",
    "................................",
    "................................",
    "................................",
    "................................",
    "................................",
    "................................",
    "................................",
    "................................",
    "................................",
    "................................",
    "................................",
    "................................",
    "................................",
    "................................",
    "................................",
    "................................",
    "................................",
    "................................",
    "................................",
    "................................",
    "kkkkkkkkkkk.....................",
    "kwwwwwkwwwk.....................",
    "kwwwwkwkwwk.....................",
    "kwwwwkkkkwk.....................",
    "kwwwkkwkwwk.....................",
    "kwwkwwkwwwk.....................",
    "kwwkwwwwwwk.....................",
    "kwwkwwwwwwk.....................",
    "kwwwwwwwwwk.....................",
    "kwwwwwwwwwk.....................",
    "kkkkkkkkkkk.....................",
}, {
    "................",
    "................",
    "................",
    "................",
    "................",
    "................",
    "................",
    "kkkkkkkkk.......",
    "kwwwwwwwk.......",
    "kwwwwwwwk.......",
    "kwwwkkwwk.......",
    "kwwwkkkwk.......",
    "kwwkkkwwk.......",
    "kwkwwwwwk.......",
    "kwkwwwwwk.......",
    "kkkkkkkkk.......",
}};
// clang-format on

template <size_t N>
RgbaImage Render(const std::array<std::string_view, N>& rows) {
  RgbaImage image{static_cast<int>(N), static_cast<int>(N), {}};
  image.pixels.reserve(N * N);
  for (std::string_view row : rows) {
    for (char c : row) image.pixels.push_back(c == '.' ? 0 : Colour(c));
  }
  return image;
}

std::vector<uint8_t> Encode(const Art& art) {
  return EncodeIco({Render(art.large), Render(art.small)});
}

struct NamedArt {
  const char* fileName;
  const Art* art;
};
constexpr NamedArt kUserIcons[] = {
    {"Girl.ico", &kGirlArt},   {"Boy.ico", &kBoyArt},   {"Woman.ico", &kWomanArt},
    {"Man.ico", &kManArt},     {"Cat.ico", &kCatArt},   {"Dog.ico", &kDogArt},
    {"Fish.ico", &kFishArt},   {"Bird.ico", &kBirdArt}, {"Star.ico", &kStarArt},
    {"House.ico", &kHouseArt}, {"Car.ico", &kCarArt},
};

constexpr bool AllWellFormed() {
  for (const NamedArt& a : kUserIcons) {
    if (!WellFormed(*a.art)) return false;
  }
  return WellFormed(kDefaultArt) && WellFormed(kFolderArt) && WellFormed(kDocumentArt) &&
         WellFormed(kProgramArt) && WellFormed(kLinkArt);
}
static_assert(AllWellFormed(), "every row has the picture's width and known colours");

// Existing names match case-insensitively, as on the machine.
void WriteIfMissing(const Machine& machine, const std::string& windowsFile,
                    const std::vector<uint8_t>& bytes) {
  const auto file = machine.HostPath(windowsFile);
  if (!file) throw MachineError("The file " + windowsFile + " is not on the machine.");
  std::error_code error;
  if (std::filesystem::exists(*file, error) || error) return;
  WriteFileAtomically(*file, bytes);
}

}  // namespace

std::vector<uint8_t> StockIconFile(StockIcon icon) {
  switch (icon) {
    case StockIcon::Program:
      return Encode(kProgramArt);
    case StockIcon::Folder:
      return Encode(kFolderArt);
    case StockIcon::LinkOverlay:
      return Encode(kLinkArt);
    case StockIcon::Document:
      break;
  }
  return Encode(kDocumentArt);
}

std::vector<uint8_t> DefaultUserIconFile() {
  return Encode(kDefaultArt);
}

std::vector<NamedIconFile> UserIconFiles() {
  std::vector<NamedIconFile> files;
  for (const NamedArt& a : kUserIcons) files.push_back({a.fileName, Encode(*a.art)});
  return files;
}

void InstallProgramIcons(const Machine& machine) {
  const std::string programDir = ExtractFilePath(machine.ProgramPath());
  const auto dir = machine.HostPath(programDir + "UserIcon");
  if (programDir.empty() || !dir) {
    throw MachineError("The program directory " + programDir + " is not on the machine.");
  }
  std::filesystem::create_directories(*dir);
  WriteIfMissing(machine, programDir + "default.ico", DefaultUserIconFile());
  for (const NamedIconFile& file : UserIconFiles()) {
    WriteIfMissing(machine, programDir + "UserIcon\\" + file.fileName, file.bytes);
  }
}

}  // namespace tarnwick
