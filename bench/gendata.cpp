// Only std::mt19937_64, whose output the C++ standard fixes, and integer
// arithmetic decide the bytes: the standard's distributions are left out
// because their output is each library's own choice.
#include "gendata.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <map>
#include <random>
#include <set>
#include <string_view>
#include <vector>

namespace quendril::bench {
namespace {

class Draw {
public:
    explicit Draw(uint64_t seed) : rng_(seed) {}
    uint64_t next() { return rng_(); }
    // A modulo: its bias, under 2^-30 for the bounds used here, does not matter.
    std::size_t below(std::size_t bound) { return static_cast<std::size_t>(rng_() % bound); }
    std::size_t between(std::size_t lo, std::size_t hi) { return lo + below(hi - lo + 1); }
    bool percent(unsigned p) { return rng_() % 100 < p; }
    template <class T>
    const T& pick(const std::vector<T>& v) { return v[below(v.size())]; }

private:
    std::mt19937_64 rng_;
};

// An index drawn with integer weights.
class Weighted {
public:
    explicit Weighted(const std::vector<uint64_t>& weights) {
        uint64_t sum = 0;
        for (uint64_t w : weights) cumulative_.push_back(sum += w);
    }
    // Zipf's law over `count` ranks: weight 1 / (rank + offset).
    static Weighted zipf(std::size_t count, uint64_t offset) {
        std::vector<uint64_t> w;
        for (std::size_t rank = 0; rank < count; ++rank) w.push_back(1'000'000'000 / (rank + offset));
        return Weighted(w);
    }
    std::size_t draw(Draw& d) const {
        uint64_t x = d.next() % cumulative_.back();
        return static_cast<std::size_t>(std::upper_bound(cumulative_.begin(), cumulative_.end(), x) -
                                        cumulative_.begin());
    }

private:
    std::vector<uint64_t> cumulative_;
};

std::vector<std::string> split(std::string_view text, std::string_view separators) {
    std::vector<std::string> out;
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t start = text.find_first_not_of(separators, at);
        if (start == std::string_view::npos) break;
        std::size_t end = std::min(text.find_first_of(separators, start), text.size());
        out.emplace_back(text.substr(start, end - start));
        at = end;
    }
    return out;
}

std::string twoDigits(unsigned v) {
    return std::string(1, static_cast<char>('0' + v / 10 % 10)) + static_cast<char>('0' + v % 10);
}

std::string digits(Draw& d, std::size_t count) {
    std::string s;
    for (std::size_t i = 0; i < count; ++i) s += static_cast<char>('0' + d.below(10));
    return s;
}

// ---------------------------------------------------------------- sales

constexpr std::string_view kStoreBrand = "Best Value";

struct Category {
    std::string_view brands;    // '|' between makers; the store's own brand is added to each
    std::string_view products;  // "Product=pack/pack|..."
    unsigned minCents;
    unsigned maxCents;
};

constexpr std::array kCategories = {
    Category{"Alpine Dairy|Meadow Fresh|Happy Cow|Green Valley|Hillcrest|Lakeside Farm|Valley Gold|Dale End|Clover Hill",
             "Milk=1l/2l/500ml|Semi-Skimmed Milk=1l/2l|Whole Milk=1l/2l|Lactose-Free Milk=1l|Butter=250g/500g|"
             "Salted Butter=250g|Double Cream=200ml/300ml|Natural Yoghurt=150g/500g/1kg|"
             "Strawberry Yoghurt=150g/4x125g|Greek Yoghurt=500g/1kg|Vanilla Yoghurt=150g/500g|"
             "Mild Cheddar=200g/400g|Mature Cheddar=200g/400g|Mozzarella=125g/3x125g|Cottage Cheese=200g/300g|"
             "Cream Cheese=200g|Sour Cream=200g|Kefir=500ml/1l|Quark=250g/500g|Rice Pudding=200g/400g|"
             "Eggs=6 pack/10 pack|Free Range Eggs=6 pack/12 pack",
             49, 499},
    Category{"Old Mill|Golden Harvest|Baker Street|Sunfield|Stonebake|Village Oven|Morning Crust|Hearth & Home",
             "White Bread=400g/800g|Wholemeal Bread=400g/800g|Rye Bread=500g/750g|Sourdough Loaf=500g|"
             "Baguette=250g/2 pack|Croissants=4 pack/6 pack|Bread Rolls=6 pack/10 pack|Pretzels=4 pack|"
             "Blueberry Muffins=4 pack|Crackers=200g/300g|Rusks=225g|Crumpets=6 pack|Bagels=5 pack|"
             "Pitta Bread=6 pack|Tortilla Wraps=8 pack",
             59, 349},
    Category{"Clear Spring|Blue Lake|Sunny Grove|Fizzwell|Nordic Bay|Mountain Brook|Citrus Bay|Spa Royal|Tropic Isle",
             "Still Water=0.5l/1.5l/6x1.5l|Sparkling Water=0.5l/1.5l/6x1.5l|Orange Juice=1l/1.5l|"
             "Apple Juice=1l/1.5l|Multivitamin Juice=1l|Cola=330ml/1.5l/6x330ml|Cola Zero=330ml/1.5l|"
             "Lemonade=1.5l|Iced Tea Peach=0.5l/1.5l|Energy Drink=250ml/500ml|Tonic Water=1l|Ginger Ale=1l|"
             "Orange Soda=1.5l/330ml|Cranberry Drink=1l",
             29, 599},
    Category{"Crunchy Bay|Golden Harvest|Sweet Meadow|Cocoa Hill|Nutty Grove|Snack Time|Candy Lane|Oak Barrel",
             "Salted Crisps=150g/40g|Paprika Crisps=150g/40g|Tortilla Chips=200g|Salted Peanuts=200g/500g|"
             "Pretzel Sticks=175g|Salted Popcorn=100g|Milk Chocolate=100g/300g|Dark Chocolate=100g|"
             "Hazelnut Chocolate=100g|Chocolate Biscuits=150g/300g|Oat Biscuits=300g|Butter Cookies=200g|"
             "Gummy Bears=200g/45g|Liquorice=200g|Cereal Bar=25g/6 pack|Mixed Nuts=200g|Rice Cakes=100g",
             39, 399},
    Category{"Old Mill|Bellavista|Green Valley|Riverside|Highland|Casa Rossa|Spice Road|Kitchen Pride|Harvest Moon",
             "Spaghetti=500g/1kg|Penne=500g/1kg|Fusilli=500g|Basmati Rice=500g/1kg/2kg|Long Grain Rice=1kg|"
             "Plain Flour=1kg/2kg|Self-Raising Flour=1kg|White Sugar=1kg/500g|Brown Sugar=500g|Sea Salt=500g/250g|"
             "Sunflower Oil=1l|Olive Oil=500ml/750ml/1l|Tomato Passata=500g|Chopped Tomatoes=400g/4x400g|"
             "Red Lentils=500g|Chickpeas=400g|Baked Beans=415g/4x415g|Sweetcorn=340g|Tuna Chunks=160g/3x160g|"
             "Honey=340g/500g|Strawberry Jam=340g|Orange Marmalade=454g|Peanut Butter=340g|Ground Coffee=250g/500g|"
             "Coffee Beans=500g/1kg|Instant Coffee=100g/200g|Black Tea=40 bags/80 bags|Green Tea=20 bags|"
             "Cornflakes=500g/750g|Porridge Oats=500g/1kg|Fruit Muesli=750g|Tomato Ketchup=500ml|"
             "Mayonnaise=400ml|Mustard=200ml|Vegetable Stock=8 cubes",
             39, 899},
    Category{"Nordic Bay|Frosty Fields|Bellavista|Polar Star|Ice Valley|Snowdrift|Gelato Mio",
             "Garden Peas=450g/900g|Leaf Spinach=450g|Fish Fingers=10 pack/20 pack|Pizza Margherita=350g|"
             "Pizza Salami=360g|Pizza Funghi=350g|Vanilla Ice Cream=500ml/1l/2.5l|Chocolate Ice Cream=500ml/1l|"
             "Oven Chips=750g/1.5kg|Mixed Vegetables=750g|Forest Berries=300g/500g|Broccoli Florets=450g|"
             "Chicken Nuggets=400g|Spring Rolls=12 pack",
             99, 699},
    Category{"Red Barn|Highland|Coastal Catch|Hillside Farm|Prime Cuts|Country Larder|North Sea",
             "Chicken Breast=300g/600g/1kg|Chicken Thighs=500g/1kg|Minced Beef=400g/750g|Beef Steak=250g/2x250g|"
             "Pork Chops=450g|Smoked Bacon=200g|Cooked Ham=100g/200g|Salami Slices=100g|Pork Sausages=6 pack/12 pack|"
             "Turkey Slices=100g|Smoked Salmon=100g/200g|Salmon Fillets=2 pack/4 pack|Cod Fillets=2 pack|"
             "Prawns=150g/300g|Liver Sausage=125g",
             149, 1499},
    Category{"Sunny Farm|Green Valley|Orchard Hill|Fresh Acres|Garden Gate|Sun Ripe|Field & Vine",
             "Bananas=1kg/each|Apples Braeburn=1kg/6 pack|Apples Gala=1kg/6 pack|Oranges=1.5kg/each|"
             "Lemons=500g/each|Limes=each/4 pack|Vine Tomatoes=500g|Cherry Tomatoes=250g/500g|Cucumber=each|"
             "Carrots=1kg/2kg|Red Onions=500g|White Onions=1kg|Potatoes=2kg/2.5kg|Sweet Potatoes=1kg|"
             "Iceberg Lettuce=each|Red Peppers=each/3 pack|Mushrooms=250g/500g|Green Grapes=500g|"
             "Avocado=each/2 pack|Strawberries=400g|Blueberries=125g|Garlic=4 pack|Courgettes=500g|"
             "Broccoli=each|Pears=1kg",
             25, 499},
    Category{"Sparkle|Fresh Home|Softy|Brightway|Clean Sweep|Blue Drop|Homewise",
             "Washing-up Liquid=500ml/1l|Laundry Detergent=1.5l/3l|Laundry Capsules=20 pack/40 pack|"
             "Fabric Softener=1l/2l|Kitchen Towels=2 rolls/4 rolls|Toilet Paper=9 rolls/18 rolls|"
             "Bin Bags=20 pack|Dishwasher Tablets=30 pack/60 pack|All-purpose Cleaner=750ml|Glass Cleaner=500ml|"
             "Sponges=5 pack|Aluminium Foil=10m/30m|Cling Film=30m|Freezer Bags=50 pack|Light Bulb=each|"
             "AA Batteries=4 pack/8 pack|Matches=10 boxes|Tealights=30 pack/100 pack",
             79, 1299},
    Category{"Pure Leaf|Vitality|Softy|Silkwood|Aqua Mist|Fresh Smile|Natura",
             "Shampoo=250ml/400ml|Conditioner=250ml|Shower Gel=250ml/500ml|Toothpaste=75ml/125ml|"
             "Toothbrush=each/2 pack|Hand Soap=300ml|Deodorant=150ml|Body Lotion=400ml|Razor Blades=4 pack/8 pack|"
             "Cotton Pads=80 pack|Tissues=10 pack/100 pack|Sun Cream=200ml|Lip Balm=each|Plasters=20 pack",
             49, 999},
    Category{"Woofy|Purrfect|Happy Paws|Tail Wag|Whiskers",
             "Dog Food Beef=400g/800g/12x400g|Dog Food Chicken=400g/800g/12x400g|Dry Dog Food=2kg/10kg|"
             "Cat Food Tuna=85g/12x85g|Cat Food Salmon=85g/12x85g|Dry Cat Food=1kg/4kg|Cat Litter=5l/10l|"
             "Dog Treats=150g|Cat Treats=60g|Bird Seed=1kg",
             59, 1999},
};

constexpr std::size_t kCatalogueSize = 2000;

struct Item {
    std::string ean;
    std::string name;
    unsigned cents;
};

struct Product {
    std::string name;
    std::vector<std::string> packs;
};

std::vector<Product> productsOf(const Category& c) {
    std::vector<Product> out;
    for (const auto& entry : split(c.products, "|")) {
        auto parts = split(entry, "=");
        out.push_back({parts[0], split(parts[1], "/")});
    }
    return out;
}

std::string withCheckDigit(const std::string& twelve) {
    unsigned sum = 0;
    for (std::size_t i = 0; i < twelve.size(); ++i) sum += static_cast<unsigned>(twelve[i] - '0') * (i % 2 ? 3 : 1);
    return twelve + static_cast<char>('0' + (10 - sum % 10) % 10);
}

// A GS1 country prefix and a company number: the first 7 digits of every code of one maker.
std::string companyPrefix(Draw& d) {
    static constexpr std::array<unsigned, 6> kCountryStarts = {400, 500, 540, 760, 800, 870};
    static constexpr std::array<unsigned, 6> kCountrySpans = {41, 10, 10, 10, 40, 10};
    std::size_t c = d.below(kCountryStarts.size());
    std::string country = std::to_string(kCountryStarts[c] + d.below(kCountrySpans[c]));
    return country + digits(d, 4);
}

unsigned shelfPrice(Draw& d, const Category& c, bool storeBrand) {
    unsigned cents = c.minCents + static_cast<unsigned>(d.below(c.maxCents - c.minCents + 1));
    if (storeBrand) cents = cents * 3 / 4;
    return cents / 10 * 10 + 9;  // prices end in 9
}

// Makers' products in some of their packs, each with its own code and price;
// never more than three quarters of all the combinations, so the draw ends soon.
std::vector<Item> makeCatalogue(Draw& d) {
    std::vector<std::vector<Product>> products;
    std::vector<std::vector<std::string>> brands;
    std::vector<uint64_t> weights;
    std::size_t possible = 0;
    for (const auto& c : kCategories) {
        products.push_back(productsOf(c));
        brands.push_back(split(c.brands, "|"));
        brands.back().emplace_back(kStoreBrand);
        weights.push_back(products.back().size());
        for (const auto& p : products.back()) possible += p.packs.size() * brands.back().size();
    }
    Weighted category(weights);
    std::map<std::string, std::string> prefixOf;  // a maker keeps one company prefix
    std::set<std::string> names, codes;
    std::vector<Item> items;
    while (items.size() < std::min(kCatalogueSize, possible * 3 / 4)) {
        std::size_t ci = category.draw(d);
        const std::string& brand = d.pick(brands[ci]);
        const Product& product = d.pick(products[ci]);
        std::string name = brand + ' ' + product.name + ' ' + d.pick(product.packs);
        if (!names.insert(name).second) continue;
        auto [prefix, isNew] = prefixOf.try_emplace(brand);
        if (isNew) prefix->second = companyPrefix(d);
        std::string ean;
        do ean = withCheckDigit(prefix->second + digits(d, 5));
        while (!codes.insert(ean).second);
        items.push_back({ean, name, shelfPrice(d, kCategories[ci], brand == kStoreBrand)});
    }
    return items;
}

std::string money(unsigned cents) { return std::to_string(cents / 100) + '.' + twoDigits(cents % 100); }

struct Date {
    unsigned year, month, day;

    void next() {
        static constexpr std::array<unsigned, 12> kDays = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
        unsigned last = kDays[month - 1] + (month == 2 && year % 4 == 0 ? 1 : 0);
        if (++day <= last) return;
        day = 1;
        if (++month > 12) {
            month = 1;
            ++year;
        }
    }
    std::string text() const { return std::to_string(year) + '-' + twoDigits(month) + '-' + twoDigits(day); }
};

// The shop opens at 07:00 and closes at 22:00; after closing the till goes on the next morning.
class ShopClock {
public:
    explicit ShopClock(Draw& d)
        : date_{2024, 1 + static_cast<unsigned>(d.below(12)), 1 + static_cast<unsigned>(d.below(28))},
          seconds_(kOpen + d.below(1800)) {}
    void advance(std::size_t s) {
        seconds_ += s;
        if (seconds_ < kClose) return;
        date_.next();
        seconds_ = kOpen + seconds_ % 600;
    }
    std::string date() const { return date_.text(); }
    std::string time() const {
        auto s = static_cast<unsigned>(seconds_);
        return twoDigits(s / 3600) + ':' + twoDigits(s / 60 % 60) + ':' + twoDigits(s % 60);
    }

private:
    static constexpr std::size_t kOpen = 7 * 3600;
    static constexpr std::size_t kClose = 22 * 3600;
    Date date_;
    std::size_t seconds_;
};

std::vector<uint64_t> basketWeights() {
    std::vector<uint64_t> w{100000};  // one item; each further item 15 % rarer
    while (w.size() < 25) w.push_back(w.back() * 85 / 100);
    return w;
}

class SalesWriter {
public:
    explicit SalesWriter(uint64_t seed)
        : d_(seed),
          catalogue_(makeCatalogue(d_)),
          popularity_(Weighted::zipf(catalogue_.size(), 8)),
          basket_(basketWeights()),
          extraQuantity_({50, 20, 15, 5, 10}),
          payment_({55, 33, 10, 2}),
          clock_(d_),
          store_(std::string("S").append(digits(d_, 4))),
          terminal_(std::string("HT00").append(twoDigits(1 + static_cast<unsigned>(d_.below(16))))),
          receipt_(1000 + d_.below(90000)) {}

    std::string write(std::size_t n) {
        std::string out = "date,time,store,terminal,receipt,line,ean,item,qty,unit_price,amount,payment\n";
        while (out.size() < n) receipt(out);
        out.resize(n);
        return out;
    }

private:
    void receipt(std::string& out) {
        static const std::array<const char*, 4> kPayments = {"CARD", "CASH", "MOBILE", "VOUCHER"};
        std::size_t lines = 1 + basket_.draw(d_);
        std::string payment = kPayments[payment_.draw(d_)];
        for (std::size_t line = 1; line <= lines; ++line) {
            const Item& item = catalogue_[popularity_.draw(d_)];
            unsigned qty = d_.percent(85) ? 1 : 2 + static_cast<unsigned>(extraQuantity_.draw(d_));
            out += clock_.date() + ',' + clock_.time() + ',' + store_ + ',' + terminal_ + ',' +
                   std::to_string(receipt_) + ',' + std::to_string(line) + ',' + item.ean + ',' + item.name + ',' +
                   std::to_string(qty) + ',' + money(item.cents) + ',' + money(qty * item.cents) + ',' +
                   (line == lines ? payment : std::string()) + '\n';
            clock_.advance(d_.between(2, 8));  // the next scan
        }
        ++receipt_;
        // The next customer: usually a queue, now and then a quiet spell.
        clock_.advance(d_.percent(5) ? d_.between(60, 600) : d_.between(10, 60));
    }

    Draw d_;
    std::vector<Item> catalogue_;
    Weighted popularity_;
    Weighted basket_;
    Weighted extraQuantity_;  // 2 to 6 of one item
    Weighted payment_;
    ShopClock clock_;
    std::string store_;
    std::string terminal_;
    std::size_t receipt_;
};

// ---------------------------------------------------------------- prose

// The vocabulary, most frequent first. Nouns: "word", "word:plural", or
// "word*" for a mass noun (no plural, no "a"). Verbs: "base", "base:past" or
// "base:past:participle"; the rest follow the regular rules.
constexpr std::string_view kNouns =
    "time* man:men day way hand eye head house door room night face woman:women life:lives world year thing "
    "voice place father mother friend moment water* word side girl boy child:children light* heart home "
    "morning mind name window table road town thought body air* arm car evening street fire* hour letter dog "
    "horse wall bed floor king doctor husband wife:wives son daughter brother sister minute week month "
    "question answer idea money* story truth* tree garden river sea sky sun* ground* hill field village city "
    "country land* rain* wind snow* stone ship boat island forest mountain lake bridge tower church school "
    "market shop farm queen soldier captain teacher farmer servant stranger neighbour uncle aunt cousin baby "
    "crowd army war* peace* power* silence* fear* hope love* anger* joy* pain* dream memory feeling sound "
    "picture music* song gift price coin purse pocket bag box basket bottle cup glass plate bowl knife:knives "
    "spoon bread* meat* cheese* milk* tea* coffee* wine* sugar* salt* apple potato:potatoes egg cake soup* "
    "dinner lunch breakfast meal kitchen chair lamp candle clock mirror shelf:shelves carpet curtain roof "
    "corner stair step gate fence path track wheel engine machine tool hammer nail rope chain key lock ring "
    "coat hat shoe boot dress shirt glove scarf button thread* cloth* wool* gold* silver* iron* wood* paper* "
    "ice* shadow edge surface weather* season spring summer autumn winter coast shore beach wave harbour "
    "station train carriage cart wagon journey trip visit walk ride voyage map government company office "
    "business system problem service member group party team club committee council court law rule officer "
    "guard prison judge lawyer report record account history* science* art* language nature* society "
    "community industry trade* bank loan tax cost value economy figure rate level amount share profit loss "
    "budget plan project process method result effect cause purpose reason decision choice opinion view "
    "belief theory evidence* example experience skill knowledge* education* student class lesson course exam "
    "degree university library museum theatre film show play concert audience newspaper magazine article page "
    "chapter book poem novel writer painter singer actor artist musician player leader president minister "
    "priest nurse clerk driver sailor fisherman:fishermen hunter merchant baker butcher tailor carpenter "
    "miller shepherd widow maid lady:ladies gentleman:gentlemen lord master mistress guest host visitor "
    "traveller pilgrim prisoner enemy ally hero:heroes thief:thieves beggar giant ghost witch animal cow "
    "sheep:sheep pig goat bird chicken duck goose:geese eagle owl crow wolf:wolves fox bear deer:deer rabbit "
    "mouse:mice rat fish:fish snake frog bee fly insect flower rose grass* leaf:leaves branch root seed fruit "
    "orange berry nut corn* wheat* hay* straw* flour* oil* honey* butter* cream* soap* dust* mud* sand* "
    "smoke* steam* blood* bone skin* hair* finger thumb neck shoulder back chest knee foot:feet tooth:teeth "
    "lip tongue nose ear cheek forehead brow mouth throat stomach wrist elbow ankle heel beard skull breath "
    "tear smile laugh cry shout whisper sigh glance look touch kiss noise echo:echoes bell whistle drum horn "
    "trumpet piano violin guitar flute note tune rhythm message sign signal mark line circle square cross "
    "point dot spot hole gap crack slope valley plain meadow marsh swamp desert cave cliff rock pebble pond "
    "stream well fountain canal dam ditch hedge bush shrub vine orchard vineyard barn stable shed cottage hut "
    "cabin castle palace hall chamber cellar attic garage porch balcony terrace courtyard yard lawn gravel* "
    "pavement avenue lane alley crossing junction tunnel railway platform ticket passenger luggage* suitcase "
    "trunk parcel package envelope stamp card diary notebook pencil pen ink* paint* brush canvas frame "
    "photograph camera telephone radio television computer screen keyboard wire cable battery switch plug "
    "socket pipe tap sink bath towel blanket pillow sheet mattress cupboard drawer wardrobe desk bench stool "
    "sofa cushion rug vase jar jug kettle pan pot tray basin bucket barrel sack crate ladder axe saw spade "
    "shovel rake plough sword shield spear arrow bow gun bullet cannon flag banner crown throne treasure "
    "jewel pearl diamond necklace bracelet brooch watch wallet umbrella cane stick staff lantern torch match "
    "flame spark ash* coal* charcoal* gas* petrol* electricity* heat* warmth* cold* darkness* brightness* "
    "colour shape size weight height length width depth distance speed direction position order number total "
    "half:halves quarter dozen pair couple series list set range kind sort type form style manner fashion "
    "habit custom tradition ceremony festival holiday birthday wedding funeral feast celebration game sport "
    "race contest prize reward medal trophy victory defeat battle fight struggle attack defence escape rescue "
    "danger risk accident disaster storm flood earthquake drought* famine* disease illness fever cough wound "
    "injury scar cure medicine* pill remedy treatment hospital clinic patient surgeon chemist dentist vet "
    "health* strength* courage* patience* wisdom* kindness* beauty* grace* honour* duty pride* shame* guilt* "
    "sorrow* grief* regret doubt worry trouble difficulty mistake fault error failure success effort attempt "
    "chance luck* fortune fate destiny future* past* present instant while period age era century decade "
    "generation childhood* youth* death birth marriage friendship relationship family household neighbourhood "
    "region province state nation kingdom empire republic capital border frontier territory colony settlement "
    "port dock quay pier lighthouse beacon anchor sail mast deck crew cargo* fleet navy tide current compass "
    "chart horizon north* south* east* west* middle centre bottom top end beginning start finish limit "
    "boundary";
constexpr std::string_view kAdjectives =
    "old new good little great young long small large big last whole dark bright high low early late "
    "right wrong true real best strange familiar quiet loud warm cold hot cool dry wet clean dirty rich poor "
    "happy sad angry proud tired hungry sick busy free full empty open deep wide narrow thin thick short tall "
    "heavy light fat broad flat round sharp smooth rough sweet bitter fresh ripe green red blue yellow white "
    "black brown grey golden pale pink purple wooden silent gentle kind cruel brave wise foolish clever "
    "stupid honest polite rude calm wild fierce tame lonely lovely beautiful ugly pretty handsome plain fine "
    "grand noble humble simple common rare usual odd curious serious funny pleasant terrible awful horrible "
    "wonderful splendid excellent perfect proper private public secret hidden sudden slow quick fast rapid "
    "steady gradual final main chief central local foreign distant nearby near far remote northern southern "
    "eastern western ancient modern recent current future former daily weekly yearly nightly endless crowded "
    "lively dull shining gloomy misty foggy rainy sunny windy snowy frozen icy stormy cloudy clear fair soft "
    "hard solid firm loose tight steep shallow hollow bare naked dead living sleeping waking broken torn worn "
    "faded stained ragged neat tidy untidy elegant shabby fashionable expensive cheap valuable precious "
    "worthless useful useless important necessary possible impossible likely certain doubtful obvious "
    "mysterious dangerous safe secure sure uncertain anxious nervous eager keen cheerful merry miserable "
    "unhappy glad grateful jealous envious greedy generous selfish patient impatient careful careless "
    "thoughtful thoughtless faithful loyal false tender harsh stern strict severe mild modest vain shy bold "
    "timid fearful frightened scared worried troubled restless weary sleepy drowsy thirsty ill healthy strong "
    "weak feeble fragile delicate sturdy powerful mighty tiny huge enormous vast immense massive slender slim "
    "plump stout lean bony muscular hairy bald curly straight crooked bent twisted curved level even silky "
    "velvet woollen cotton leather silver iron stone brick marble glass paper plastic rusty dusty muddy sandy "
    "rocky grassy leafy thorny flowery fruity salty spicy sour bland tasty delicious rotten stale mouldy raw "
    "cooked boiled fried roasted baked burnt smoky sooty damp moist soaked dripping flooded parched barren "
    "fertile wooded rural urban royal holy sacred evil wicked virtuous innocent guilty lawful legal illegal "
    "official formal informal friendly hostile intimate close dear beloved favourite only single double twin "
    "several various different similar same equal unequal";
constexpr std::string_view kStates =
    "afraid alone alive asleep awake aware glad sorry sure ready unable certain content ashamed silent right "
    "wrong tired hungry cold warm happy sad angry quiet still busy free safe lost late early";
constexpr std::string_view kAdverbs =
    "slowly quickly quietly carefully suddenly softly gently firmly loudly sadly happily angrily calmly "
    "eagerly easily badly well hard fast early late together alone away back again once patiently politely "
    "proudly bravely boldly briefly brightly cheerfully clearly closely coldly deeply desperately evenly "
    "faithfully fiercely foolishly freely gladly gracefully greedily hastily heavily honestly hopefully "
    "hungrily innocently kindly lazily lightly loosely madly nervously openly painfully perfectly playfully "
    "rapidly readily roughly rudely safely seriously sharply shyly silently smoothly solemnly steadily "
    "sternly strangely swiftly tenderly tightly truly warmly weakly wearily wildly wisely abroad upstairs "
    "downstairs outside inside nearby forward anxiously awkwardly bitterly blindly carelessly casually "
    "correctly curiously doubtfully dreamily elegantly equally faintly fondly frankly generously gravely "
    "helplessly idly instantly joyfully keenly lovingly merrily mysteriously neatly noisily obediently "
    "peacefully reluctantly restlessly sleepily sleeplessly slightly sorrowfully stiffly thoughtfully "
    "uneasily vaguely violently wistfully";
constexpr std::string_view kTransitive =
    "take:took:taken make:made see:saw:seen know:knew:known find:found give:gave:given tell:told feel:felt "
    "leave:left keep:kept hold:held bring:brought write:wrote:written build:built buy:bought meet:met "
    "pay:paid send:sent lose:lost read:read hear:heard catch:caught teach:taught sell:sold carry open close "
    "watch follow want need like love help show:showed:shown call ask answer remember forget:forgot:forgotten "
    "understand:understood describe explain visit reach raise lift push pull touch paint clean fix fill cover "
    "cross enter join guard hide:hid:hidden throw:threw:thrown break:broke:broken choose:chose:chosen "
    "steal:stole:stolen wear:wore:worn drive:drove:driven ride:rode:ridden eat:ate:eaten drink:drank:drunk "
    "get:got put:put set:set cut:cut hit:hit shut:shut spread:spread accept admire allow arrange attack avoid "
    "borrow bury check collect count cook deliver destroy discover enjoy examine expect fetch finish gather "
    "greet hate imagine invite kick kiss lead:led lend:lent mark measure mend miss move notice obey offer "
    "order own pack pass pick place plant prepare present press protect prove receive recognise refuse remove "
    "repair replace rescue respect save search serve share shake:shook:shaken sign solve spend:spent start "
    "study support surprise taste test thank tie trust turn use wash welcome wrap:wrapped bite:bit:bitten "
    "blow:blew:blown burn dig:dug draw:drew:drawn feed:fed fight:fought forgive:forgave:forgiven hang:hung "
    "lay:laid ring:rang:rung seek:sought shoot:shot strike:struck sweep:swept swing:swung tear:tore:torn "
    "win:won beat:beat:beaten bend:bent hurt:hurt abandon address admit:admitted adopt afford announce "
    "approach assist attend attract capture chase claim clear command compare complete consider contain "
    "control copy create cure decorate defend demand deny design develop doubt drag:dragged earn embrace "
    "employ encourage explore face fold frighten grasp guide handle harm heat hire hunt ignore improve "
    "include increase inspect introduce judge knock load lock manage marry mention mix name observe obtain "
    "organise perform persuade please polish pour praise prefer:preferred print produce promise provide "
    "punish question recall record reduce release remind rent repeat report request reveal reward rob:robbed "
    "roll rub:rubbed ruin scatter scratch seize shelter sort spare spill squeeze steer stir:stirred store "
    "stretch suggest supply surround tap:tapped tempt threaten trace train treat unlock unpack "
    "wake:woke:woken warn weigh wipe";
constexpr std::string_view kIntransitive =
    "go:went:gone come:came:come run:ran:run walk sit:sat stand:stood fall:fell:fallen sleep:slept wait smile "
    "laugh cry arrive stay live die work rest travel return move turn climb swim:swam:swum fly:flew:flown "
    "grow:grew:grown rise:rose:risen sing:sang:sung speak:spoke:spoken listen look hurry dance jump "
    "begin:began:begun continue disappear appear happen remain breathe shout whisper pause hesitate "
    "nod:nodded sigh shiver tremble wander kneel:knelt sink:sank:sunk float glow agree argue complain "
    "apologise escape fail succeed recover suffer vanish wonder worry dream frown blush stumble crawl "
    "creep:crept march rush sail drift shine:shone settle sneeze cough yawn wink weep:wept bleed:bled fade "
    "flow howl bark growl hum:hummed murmur chuckle giggle sob:sobbed struggle slip:slipped step:stepped "
    "stop:stopped glance stare gaze peer leap:leapt spin:spun bow shrug:shrugged grin:grinned pray retire "
    "linger lean watch";
constexpr std::string_view kNames =
    "Anna Thomas Margaret Peter Helen James Clara Robert Edith William Mary George Alice Henry Lucy Arthur "
    "Emma Charles Rose Walter Grace Frank Ellen Samuel Martha Albert Jane Edward Harriet Oliver Agnes Daniel "
    "Ruth";
// Function words with their weights; '_' stands for a space, '-' for nothing.
constexpr std::string_view kSingularDeterminers =
    "the=55 a=22 his=5 her=5 their=3 this=3 that=2 my=2 our=1 every=1 each=1 another=1";
constexpr std::string_view kPluralDeterminers =
    "the=45 -=15 some=8 his=4 her=4 their=5 these=2 those=3 many=2 a_few=2 two=2 three=2 several=2 all_the=2 no=1";
constexpr std::string_view kMassDeterminers = "the=50 -=20 some=10 his=5 her=5 their=4 this=3 no=2 more=1";
constexpr std::string_view kSubjectPronouns = "he=30 she=28 they=20 I=12 we=6 you=3 it=8";
constexpr std::string_view kObjectPronouns = "him=25 her=25 them=25 it=20 me=8 us=4";
constexpr std::string_view kPrepositions =
    "in=20 on=10 at=8 into=6 across=4 along=4 through=5 under=4 behind=4 beside=3 near=4 towards=3 over=4 "
    "from=6 with=8 without=2 by=4 past=2 around=3 beyond=1 against=2 down=2 up=2 inside=1 outside=1 before=1 "
    "after=1";
constexpr std::string_view kDegrees = "very=10 quite=5 rather=4 too=3 so=4 almost=2 terribly=1 strangely=1";
constexpr std::string_view kModals =
    "could_not=8 would=6 might=4 did_not=10 could=5 would_not=4 must=3 should=2 will=2 can=1";
constexpr std::string_view kWishes =
    "wanted=8 tried=8 began=6 hoped=4 decided=5 meant=3 refused=3 promised=3 needed=4 managed=2 forgot=1";
constexpr std::string_view kJoins = "and=12 but=8 so=4 yet=1 for=1";
constexpr std::string_view kSubordinators =
    "when=12 after=6 before=5 because=8 although=4 while=6 as=6 until=4 since=2 once=2 as_soon_as=2 "
    "even_though=2 now_that=1";
constexpr std::string_view kOpeners =
    "then=10 later=6 at_last=4 at_first=3 in_the_morning=4 that_night=4 the_next_day=4 after_a_while=4 "
    "for_a_moment=3 for_a_long_time=2 soon=4 meanwhile=2 of_course=3 in_the_end=2 by_noon=1 once_again=2 "
    "that_winter=1 in_those_days=2 every_morning=2 before_long=2 now=4 suddenly=5 after_dinner=1 on_Sunday=1 "
    "that_evening=3 outside=2 still=2";
constexpr std::string_view kThinking =
    "said=10 thought=8 knew=8 felt=5 believed=3 feared=2 hoped=2 remembered=3 noticed=2 realised=3 saw=3";
constexpr std::string_view kQuestionWords = "why=5 how=4 where=4 when=2";
constexpr std::string_view kSpeaking = "said=30 replied=5 answered=3 whispered=3 cried=2 called=2 added=2";

struct Noun {
    std::string one;
    std::string many;
    bool mass = false;
};

struct Verb {
    std::string base;
    std::string past;
    std::string participle;
};

struct Phrase {
    std::string text;
    bool plural = false;
};

bool isVowel(char c) { return std::string_view("aeiou").find(c) != std::string_view::npos; }

bool endsWithAny(std::string_view w, std::initializer_list<std::string_view> tails) {
    return std::any_of(tails.begin(), tails.end(), [&](std::string_view t) {
        return w.size() >= t.size() && w.substr(w.size() - t.size()) == t;
    });
}

bool endsInConsonantY(std::string_view w) { return w.size() > 1 && w.back() == 'y' && !isVowel(w[w.size() - 2]); }

std::string regularPlural(const std::string& w) {
    if (endsWithAny(w, {"s", "x", "z", "ch", "sh"})) return w + "es";
    if (endsInConsonantY(w)) return w.substr(0, w.size() - 1) + "ies";
    return w + "s";
}

std::string regularPast(const std::string& w) {
    if (w.back() == 'e') return w + "d";
    if (endsInConsonantY(w)) return w.substr(0, w.size() - 1) + "ied";
    return w + "ed";
}

std::vector<Noun> parseNouns(std::string_view list) {
    std::vector<Noun> out;
    for (std::string entry : split(list, " ")) {
        bool mass = entry.back() == '*';
        if (mass) entry.pop_back();
        auto forms = split(entry, ":");
        out.push_back({forms[0], forms.size() > 1 ? forms[1] : regularPlural(forms[0]), mass});
    }
    return out;
}

std::vector<Verb> parseVerbs(std::string_view list) {
    std::vector<Verb> out;
    for (const auto& entry : split(list, " ")) {
        auto forms = split(entry, ":");
        std::string past = forms.size() > 1 ? forms[1] : regularPast(forms[0]);
        out.push_back({forms[0], past, forms.size() > 2 ? forms[2] : past});
    }
    return out;
}

// Items drawn by Zipf's law over their rank in the list.
template <class T>
class Ranked {
public:
    Ranked(std::vector<T> items, uint64_t offset)
        : items_(std::move(items)), freq_(Weighted::zipf(items_.size(), offset)) {}
    std::size_t index(Draw& d) const { return freq_.draw(d); }
    const T& draw(Draw& d) const { return items_[index(d)]; }
    const T& at(std::size_t i) const { return items_[i]; }
    std::size_t size() const { return items_.size(); }

private:
    std::vector<T> items_;
    Weighted freq_;
};

// Words with explicit weights: "word=weight ...".
class Choice {
public:
    explicit Choice(std::string_view table) : freq_(parse(table)) {}
    const std::string& draw(Draw& d) const { return words_[freq_.draw(d)]; }

private:
    std::vector<uint64_t> parse(std::string_view table) {
        std::vector<uint64_t> weights;
        for (const auto& entry : split(table, " ")) {
            auto parts = split(entry, "=");
            std::string word = parts[0] == "-" ? std::string() : parts[0];
            std::replace(word.begin(), word.end(), '_', ' ');
            words_.push_back(word);
            weights.push_back(std::stoull(parts[1]));
        }
        return weights;
    }
    std::vector<std::string> words_;
    Weighted freq_;
};

// Parts in braces are made in order, and so are their draws: the operands
// of a + are not.
std::string concat(std::initializer_list<std::string> parts) {
    std::string out;
    for (const auto& p : parts) out += p;
    return out;
}

std::string joined(std::initializer_list<std::string> parts) {
    std::string out;
    for (const auto& p : parts) {
        if (p.empty()) continue;
        if (!out.empty()) out += ' ';
        out += p;
    }
    return out;
}

std::string capitalised(std::string s) {
    auto first = std::find_if(s.begin(), s.end(), [](char c) { return std::isalpha(static_cast<unsigned char>(c)); });
    if (first != s.end()) *first = static_cast<char>(std::toupper(static_cast<unsigned char>(*first)));
    return s;
}

std::string indefiniteArticle(std::string_view next) {
    for (std::string_view silentH : {"hour", "hone", "hono", "heir"}) {
        if (next.substr(0, 4) == silentH) return "an";
    }
    for (std::string_view sayYou : {"uni", "use", "usu", "one", "eur"}) {
        if (next.substr(0, 3) == sayYou) return "a";
    }
    return !next.empty() && isVowel(next[0]) ? "an" : "a";
}

// Sentences from a small grammar. Prose repeats itself the way the
// collocations below do: a paragraph keeps coming back to a few nouns and
// one person, each verb has the objects and places it goes with most, each
// noun the adjectives.
class ProseWriter {
public:
    explicit ProseWriter(uint64_t seed)
        : d_(seed),
          nouns_(parseNouns(kNouns), 4),
          adjectives_(split(kAdjectives, " "), 3),
          states_(split(kStates, " "), 3),
          adverbs_(split(kAdverbs, " "), 2),
          transitive_(parseVerbs(kTransitive), 3),
          intransitive_(parseVerbs(kIntransitive), 3),
          names_(split(kNames, " "), 2),
          singular_(kSingularDeterminers),
          plural_(kPluralDeterminers),
          mass_(kMassDeterminers),
          subjects_(kSubjectPronouns),
          objects_(kObjectPronouns),
          prepositions_(kPrepositions),
          degrees_(kDegrees),
          modals_(kModals),
          wishes_(kWishes),
          joins_(kJoins),
          subordinators_(kSubordinators),
          openers_(kOpeners),
          thinking_(kThinking),
          questions_(kQuestionWords),
          speaking_(kSpeaking) {
        for (std::size_t i = 0; i < nouns_.size(); ++i) adjectivesOf_.push_back(draws(adjectives_, 2));
        for (std::size_t i = 0; i < transitive_.size(); ++i) objectsOf_.push_back(draws(nouns_, 3));
        for (std::size_t i = 0; i < intransitive_.size(); ++i) {
            placesOf_.push_back({placeOf(nouns_.index(d_)), placeOf(nouns_.index(d_))});
        }
    }

    std::string write(std::size_t n) {
        std::string out;
        while (out.size() < n) {
            if (!out.empty()) out += '\n';
            out += wrapped(paragraph());
        }
        out.resize(n);
        return out;
    }

private:
    template <class T>
    std::vector<std::size_t> draws(const Ranked<T>& from, int count) {
        std::vector<std::size_t> out;
        for (int i = 0; i < count; ++i) out.push_back(from.index(d_));
        return out;
    }

    static std::string wrapped(const std::string& paragraph) {
        std::string out, line;
        for (const auto& word : split(paragraph, " ")) {
            if (!line.empty() && line.size() + 1 + word.size() > 72) {
                out += line + '\n';
                line.clear();
            }
            if (!line.empty()) line += ' ';
            line += word;
        }
        return out + line + '\n';
    }

    std::string paragraph() {
        topics_ = draws(nouns_, 4);
        person_ = names_.draw(d_);
        std::string out;
        for (std::size_t i = d_.between(2, 7); i > 0; --i) {
            if (!out.empty()) out += ' ';
            out += sentence();
        }
        return out;
    }

    std::string sentence() {
        std::size_t r = d_.below(100);
        if (r < 44) return capitalised(clause(subject())) + '.';
        if (r < 58) return capitalised(concat({clause(subject()), ", ", joins_.draw(d_), " ", clause(subject())})) + '.';
        if (r < 68) return capitalised(concat({subordinators_.draw(d_), " ", clause(subject()), ", ", clause(subject())})) + '.';
        if (r < 77) return capitalised(joined({clause(subject()), subordinators_.draw(d_), clause(subject())})) + '.';
        if (r < 85) return capitalised(concat({openers_.draw(d_), ", ", clause(subject())})) + '.';
        if (r < 90) return capitalised(joined({subject().text, thinking_.draw(d_), "that", clause(subject())})) + '.';
        if (r < 94) return capitalised(question()) + '?';
        return dialogue();
    }

    std::string question() {
        if (d_.percent(30)) {
            Phrase s = subject();
            return joined({wasOrWere(s), s.text, adjectives_.draw(d_)});
        }
        std::size_t v = transitive_.index(d_);
        return joined({questions_.draw(d_), "did", subject().text, transitive_.at(v).base, object(v).text});
    }

    std::string dialogue() {
        bool asking = d_.percent(25);
        std::string words = asking ? question() + "?\"" : clause(subject()) + ",\"";
        std::string speaker = d_.percent(50) ? person_ : std::string(d_.percent(50) ? "he" : "she");
        std::string verb = asking ? "asked" : speaking_.draw(d_);
        return '"' + capitalised(words) + ' ' + (d_.percent(50) ? verb + ' ' + speaker : speaker + ' ' + verb) + '.';
    }

    std::string clause(const Phrase& s) {
        std::size_t r = d_.below(100);
        std::size_t v = transitive_.index(d_);
        const Verb& vt = transitive_.at(v);
        if (r < 34) return joined({s.text, vt.past, object(v).text, maybePlace(35), maybeAdverb(12)});
        if (r < 54) {
            std::size_t i = intransitive_.index(d_);
            std::string where = d_.percent(40) ? d_.pick(placesOf_[i]) : maybePlace(45);
            return joined({s.text, intransitive_.at(i).past, maybeAdverb(25), where});
        }
        if (r < 66) return joined({s.text, wasOrWere(s), d_.percent(30) ? degrees_.draw(d_) : "", state(), maybePlace(15)});
        if (r < 71) {
            Phrase thing = nounPhrase(true);
            return joined({"there", wasOrWere(thing), thing.text, place()});
        }
        if (r < 80) return joined({s.text, modals_.draw(d_), vt.base, object(v).text, maybePlace(30)});
        if (r < 87) {
            if (d_.percent(50)) return joined({s.text, "had", vt.participle, object(v).text});
            return joined({s.text, "had", intransitive_.draw(d_).participle, maybePlace(50)});
        }
        if (r < 94) return joined({s.text, wishes_.draw(d_), "to", vt.base, object(v).text});
        std::size_t w = transitive_.index(d_);
        return joined({s.text, vt.past, object(v).text, "and", transitive_.at(w).past, object(w).text});
    }

    Phrase subject() {
        if (d_.percent(35)) {
            const std::string& p = subjects_.draw(d_);
            return {p, p == "they" || p == "we" || p == "you"};
        }
        if (d_.percent(9)) return {d_.percent(60) ? person_ : names_.draw(d_), false};
        return nounPhrase(true);
    }

    Phrase object(std::size_t verb) {
        if (d_.percent(15)) return {objects_.draw(d_), false};
        if (d_.percent(40)) return nounPhrase(d_.pick(objectsOf_[verb]), true);
        return nounPhrase(true);
    }

    Phrase nounPhrase(bool allowOf) {
        return nounPhrase(d_.percent(35) ? d_.pick(topics_) : nouns_.index(d_), allowOf);
    }

    Phrase nounPhrase(std::size_t noun, bool allowOf) {
        const Noun& n = nouns_.at(noun);
        bool plural = !n.mass && d_.percent(25);
        std::string head = plural ? n.many : n.one;
        if (d_.percent(35)) head = adjective(noun) + ' ' + head;
        std::string det = n.mass ? mass_.draw(d_) : plural ? plural_.draw(d_) : singular_.draw(d_);
        if (det == "a") det = indefiniteArticle(head);
        std::string text = joined({det, head});
        if (allowOf && d_.percent(12)) text += " of " + nounPhrase(false).text;
        return {text, plural};
    }

    std::string adjective(std::size_t noun) {
        return adjectives_.at(d_.percent(60) ? d_.pick(adjectivesOf_[noun]) : adjectives_.index(d_));
    }
    std::string placeOf(std::size_t noun) { return joined({prepositions_.draw(d_), nounPhrase(noun, false).text}); }
    std::string place() { return joined({prepositions_.draw(d_), nounPhrase(false).text}); }
    std::string maybePlace(unsigned p) { return d_.percent(p) ? place() : ""; }
    std::string maybeAdverb(unsigned p) { return d_.percent(p) ? adverbs_.draw(d_) : ""; }
    std::string state() { return d_.percent(30) ? states_.draw(d_) : adjectives_.draw(d_); }
    static std::string wasOrWere(const Phrase& s) { return s.plural ? "were" : "was"; }

    Draw d_;
    Ranked<Noun> nouns_;
    Ranked<std::string> adjectives_;
    Ranked<std::string> states_;  // adjectives that only follow "was"
    Ranked<std::string> adverbs_;
    Ranked<Verb> transitive_;
    Ranked<Verb> intransitive_;
    Ranked<std::string> names_;
    Choice singular_, plural_, mass_, subjects_, objects_, prepositions_, degrees_, modals_, wishes_, joins_,
        subordinators_, openers_, thinking_, questions_, speaking_;
    std::vector<std::vector<std::size_t>> adjectivesOf_;  // by noun
    std::vector<std::vector<std::size_t>> objectsOf_;     // by transitive verb
    std::vector<std::vector<std::string>> placesOf_;      // by intransitive verb
    std::vector<std::size_t> topics_;                     // nouns of the paragraph
    std::string person_;
};

}  // namespace

std::string salesCsv(std::size_t n, uint64_t seed) { return SalesWriter(seed).write(n); }

std::string englishText(std::size_t n, uint64_t seed) { return ProseWriter(seed).write(n); }

std::string randomBytes(std::size_t n, uint64_t seed) {
    std::mt19937_64 rng(seed);
    std::string out(n, '\0');
    for (std::size_t i = 0; i < n; i += 8) {
        uint64_t v = rng();
        for (std::size_t b = i; b < std::min(n, i + 8); ++b, v >>= 8) out[b] = static_cast<char>(v & 0xff);
    }
    return out;
}

}  // namespace quendril::bench
